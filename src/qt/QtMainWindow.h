// The main window in Qt Widgets: the controls built from the layout table,
// the Window calls done with widgets, and the window's events handed to the
// form. No behaviour of its own.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>

#include "Window.h"

class QLabel;
class QStatusBar;
class QTimer;
class TForm1;

class QtMainWindow final : public QMainWindow, public Window {
    Q_OBJECT

  public:
    explicit QtMainWindow(QWidget* parent = nullptr);
    ~QtMainWindow() override;

    // The form that receives the window's events.
    void attach(TForm1& form) { form_ = &form; }

    QWidget* widget(Control c) const { return widgets_[std::size_t(c)]; }
    QTimer* timer(Timer t) const { return timers_[std::size_t(t)]; }
    QLabel* statusPanel() const { return statusPanel_; }

    // ---- Window ----
    std::string text(Control c) const override;
    void setText(Control c, std::string_view text) override;
    bool shown(Control c) const override;
    void setShown(Control c, bool shown) override;
    void setEnabled(Control c, bool enabled) override;
    bool checked(Control c) const override;
    void setChecked(Control c, bool checked) override;
    void setFocus(Control c) override;
    void paintNow(Control c) override;
    void setStatus(std::string_view text) override;
    Color statusColor() const override;
    void setStatusColor(Color colour) override;
    int lineCount() const override;
    std::string lineText(int line) const override;
    void setLineText(int line, std::string_view text) override;
    std::string caption() const override;
    void setCaption(std::string_view caption) override;
    void minimize() override;
    void close() override;
    void startTimer(Timer t) override;
    void stopTimer(Timer t) override;
    void showError(std::string_view text) override;
    void showManufacturer() override;
    void post(std::function<void()> function) override;

  signals:
    void statusTextChanged(const QString& text);

  protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void buildControls();
    void applyTabOrder();
    // Tells the form whether the window is on the screen, active and
    // minimised (TForm1::Activated: the start-up waits for that).
    void reportWindowFacts();

    TForm1* form_ = nullptr;
    std::array<QWidget*, ControlCount> widgets_{};
    std::array<QTimer*, TimerCount> timers_{};
    QStatusBar* statusBar_ = nullptr;
    QLabel* statusPanel_ = nullptr;
    bool watchingExposure_ = false;
};
