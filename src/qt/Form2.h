// The manufacturer window in Qt Widgets, built from its layout table.
#pragma once

#include <QDialog>

class TForm2 : public QDialog {
    Q_OBJECT

  public:
    explicit TForm2(QWidget* parent = nullptr);
};
