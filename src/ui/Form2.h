// The manufacturer window: who made the program and how to reach them.
#pragma once

#include <QDialog>

class QLabel;

// Outer size in a standard sizable frame, and the client area inside it.
inline constexpr int Form2OuterWidth = 314;
inline constexpr int Form2OuterHeight = 265;
inline constexpr int Form2ClientWidth = 306;
inline constexpr int Form2ClientHeight = 238;
inline constexpr int Form2FontPixels = 13;

class TForm2 : public QDialog {
    Q_OBJECT

  public:
    explicit TForm2(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;  // heading
    QLabel* Label2 = nullptr;  // maker
    QLabel* Label3 = nullptr;  // contact
    QLabel* Label4 = nullptr;  // support
    QLabel* Label5 = nullptr;  // address
    QLabel* Label6 = nullptr;  // phone
    QLabel* Label7 = nullptr;  // email
    QLabel* Label8 = nullptr;  // web site
};
