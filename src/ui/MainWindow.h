// The main window: its controls, the option check boxes, the status line, the
// error box, the reading list and the start-up search for the reader.
#pragma once

#include <QColor>
#include <QMainWindow>
#include <QString>
#include <random>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolButton;

// State of the main window that lives for the whole run.
extern int DisplayRow;           // the row of the reading list written next, 0..30
extern bool DemoStopped;         // the demo is available but not running
extern QColor SavedBarColor;     // the status bar's colour as found at start-up
extern std::mt19937 DemoRandom;  // the demo's random numbers

// Size of the window's client area, status bar included.
inline constexpr int ClientWidth = 494;
inline constexpr int ClientHeight = 577;
// Outer size of the window in a standard sizable frame.
inline constexpr int OuterWidth = 502;
inline constexpr int OuterHeight = 604;
inline constexpr int StatusBarHeight = 19;
inline constexpr int WindowFontPixels = 11;

inline constexpr int Timer1Interval = 333;
inline constexpr int Timer2Interval = 2000;
// How long a demo reading keeps the LED-on lamp lit.
inline constexpr unsigned DemoLampMs = 500;
// Pause between opening a port and asking for the reader's identification.
inline constexpr unsigned PortSettleMs = 300;

inline constexpr const char* DesignCaption = "Chip Reader ZEVO";

// The status bar colour after a repeat read: red 255, green 255, blue 0.
inline const QColor RepeatReadBarColor{255, 255, 0};

class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, in the order they lie on top of each other (later ones above).
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Label6 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QFrame* Bevel3 = nullptr;
    QLabel* Label7 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox9 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* BitBtn6 = nullptr;
    QPushButton* BitBtn8 = nullptr;
    QPushButton* BitBtn7 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel = nullptr;  // the status bar's one text panel
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;

    // The status line: replaces the panel's text and repaints the status bar
    // at once, so the text is seen even while a handler blocks the event loop.
    void SetStatus(const QString& text);
    QString StatusText() const;

    QColor StatusBarColor() const;
    void SetStatusBarColor(const QColor& color);

    // The error box: application-modal, centred on the screen, caption
    // "Error", the error icon and one "OK" button for Enter and Esc. Returns
    // when the operator closed it; the event loop keeps running meanwhile.
    void ShowError(const QString& text);

    // The reading list, rows 0 to 30 (see ReadingList.h).
    QString ReadRow(int row) const;
    void WriteRow(int row, const QString& text);

    // The common steps of a reading, real or demo; ChipCode holds the new code.
    void RecordReading();

    // Whether the start-up sequence has run to its end.
    bool StartupDone() const { return startupDone_; }

  public slots:
    // The start-up sequence. Runs once, at the first activation of the window
    // while it is not minimised; later calls do nothing.
    void FormActivate();

    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox3Click();
    void CheckBox4Click();
    void CheckBox5Click();
    void CheckBox6Click();
    void CheckBox7Click();
    void CheckBox8Click();
    void CheckBox9Click();

    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void BitBtn7Click();
    void BitBtn8Click();
    void SpeedButton1Click();
    void Edit1Exit();
    void Timer1Timer();
    void Timer2Timer();

  signals:
    void statusTextChanged(const QString& text);

  protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    // Shows the LED-on or the LED-off lamp and hides the other; `now` paints
    // the change at once, before the blocking steps that follow it.
    void ShowLamp(bool ledOn, bool now = false);
    void SendReaderCommand(char code, const char* done, const char* failed);
    void BuildControls();
    void SetTabOrder();
    void ConnectHandlers();
    // Runs the start-up sequence once the window is active, not minimised and
    // on the screen.
    void StartWhenActive();

    bool watchingExposure_ = false;
    bool startupBegun_ = false;
    bool startupDone_ = false;
    bool typingFailureShown_ = false;
};
