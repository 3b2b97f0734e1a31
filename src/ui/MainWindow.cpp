#include "MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cstdint>
#include <optional>
#include <string>

#include "Clock.h"
#include "Drv232.h"
#include "Form2.h"
#include "Global.h"
#include "Look.h"
#include "ReadingList.h"
#include "Sound.h"

int DisplayRow = 0;
bool DemoStopped = false;
QColor SavedBarColor;
std::mt19937 DemoRandom;

namespace {

// The list's lines as the reading-list rules see them.
class MemoLines {
  public:
    using Text = std::u16string;

    explicit MemoLines(QTextDocument& document) : document_(document) {}

    int lineCount() const { return document_.blockCount(); }

    Text lineText(int line) const {
        return document_.findBlockByNumber(line).text().toStdU16String();
    }

    void setLineText(int line, const Text& text) {
        QTextCursor cursor(document_.findBlockByNumber(line));
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(QString::fromStdU16String(text));
    }

  private:
    QTextDocument& document_;
};

// A message box placed in the middle of the screen rather than over its parent.
class ErrorBox final : public QMessageBox {
  public:
    explicit ErrorBox(QWidget* parent) : QMessageBox(parent) {}

  protected:
    void showEvent(QShowEvent* e) override {
        QMessageBox::showEvent(e);
        const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameGeometry().size(),
                                 screen->availableGeometry())
                 .topLeft());
    }
};

QString Latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
                  bool shown) {
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    // The label paints the window colour behind its text, so a label that sits
    // on a frame's edge hides the edge there.
    label->setAutoFillBackground(true);
    label->adjustSize();
    label->move(left, top);
    label->setVisible(shown);
    return label;
}

QLabel* MakeLamp(QWidget* parent, const char* name, bool lit) {
    auto* lamp = new QLabel(parent);
    lamp->setObjectName(QString::fromLatin1(name));
    lamp->setPixmap(LampPicture(lit));
    lamp->setGeometry(208, 16, LampSize, LampSize);
    lamp->setVisible(false);
    return lamp;
}

QFrame* MakeBevel(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* bevel = new QFrame(parent);
    bevel->setObjectName(QString::fromLatin1(name));
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    bevel->setGeometry(left, top, width, height);
    return bevel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, Picture picture,
                        int left, int top, int width, int height, bool shown) {
    auto* button = new QPushButton(ButtonIcon(picture), QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIconSize(QSize(ButtonPictureSize, ButtonPictureSize));
    button->setAutoDefault(false);
    button->setGeometry(left, top, width, height);
    button->setVisible(shown);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width, bool shown, bool checked) {
    auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(left, top, width, 17);
    box->setChecked(checked);
    box->setVisible(shown);
    return box;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(DesignCaption));
    setWindowIcon(ProgramIcon());
    setFont(ProgramFont(WindowFontPixels));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    BuildControls();
    SetTabOrder();
    ConnectHandlers();

    resize(ClientWidth, ClientHeight);
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(OuterWidth, OuterHeight),
                             screen()->availableGeometry())
             .topLeft());
}

TForm1::~TForm1() = default;

void TForm1::BuildControls() {
    // The controls lie on top of each other in the order they are made here.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    Label3 = MakeLabel(client, "Label3", "Order", 12, 16, false);
    Label1 = MakeLabel(client, "Label1", "Time", 64, 16, false);
    Label2 = MakeLabel(client, "Label2", "Chip code", 128, 16, false);
    Image2 = MakeLamp(client, "Image2", true);
    Image1 = MakeLamp(client, "Image1", false);

    SpeedButton1 = new QToolButton(client);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setIcon(ButtonIcon(Picture::Information));
    SpeedButton1->setIconSize(QSize(ButtonPictureSize, ButtonPictureSize));
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setGeometry(256, 8, 33, 25);

    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(12, 36, 245, 461);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setTabChangesFocus(true);
    Memo1->setPlainText(QString(readinglist::DesignedEmptyLines, QLatin1Char('\n')));
    Memo1->setVisible(false);

    Bevel2 = MakeBevel(client, "Bevel2", 292, 32, 181, 185);
    Label4 = MakeLabel(client, "Label4", "Control buttons", 336, 24, true);
    BitBtn1 = MakeButton(client, "BitBtn1", "Blocking", Picture::Blocking, 312, 48, 137, 25, true);
    BitBtn2 =
        MakeButton(client, "BitBtn2", "Unblocking", Picture::Unblocking, 312, 80, 137, 25, true);
    BitBtn3 =
        MakeButton(client, "BitBtn3", "Light up LED", Picture::LedOn, 312, 112, 137, 25, true);
    BitBtn4 =
        MakeButton(client, "BitBtn4", "Turn off LED", Picture::LedOff, 312, 144, 137, 25, true);
    BitBtn5 = MakeButton(client, "BitBtn5", "Chip Repeat Read", Picture::RepeatRead, 312, 176, 137,
                         25, true);

    Bevel1 = MakeBevel(client, "Bevel1", 292, 240, 181, 89);
    Label6 = MakeLabel(client, "Label6", "Redirect", 344, 232, true);
    CheckBox1 =
        MakeCheckBox(client, "CheckBox1", "Chip code to keyboard", 304, 256, 149, true, true);
    CheckBox3 =
        MakeCheckBox(client, "CheckBox3", "Order to Keyboard ", 304, 280, 141, false, false);
    CheckBox4 =
        MakeCheckBox(client, "CheckBox4", "Time to Keyboard. ", 304, 304, 141, false, false);

    Bevel3 = MakeBevel(client, "Bevel3", 292, 352, 181, 145);
    Label7 = MakeLabel(client, "Label7", "Parameters", 360, 344, true);
    CheckBox7 = MakeCheckBox(client, "CheckBox7", "Sound signal", 304, 368, 97, true, false);
    CheckBox2 =
        MakeCheckBox(client, "CheckBox2", "Auto turn off the LED ", 304, 392, 137, true, false);
    CheckBox6 = MakeCheckBox(client, "CheckBox6", "Save on disk", 304, 416, 97, true, false);
    CheckBox5 =
        MakeCheckBox(client, "CheckBox5", "Minimize after boot", 304, 440, 153, true, false);
    CheckBox9 = MakeCheckBox(client, "CheckBox9", "CRC", 304, 464, 73, true, false);
    CheckBox8 = MakeCheckBox(client, "CheckBox8", "Family", 392, 464, 97, false, false);

    Label5 = MakeLabel(client, "Label5", "Order:", 8, 520, true);
    Edit1 = new QLineEdit(QStringLiteral("Edit1"), client);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(48, 512, 113, 21);
    BitBtn6 = MakeButton(client, "BitBtn6", "Reset the order", Picture::ResetOrder, 168, 512, 105,
                         25, true);
    BitBtn8 = MakeButton(client, "BitBtn8", "Demo", Picture::Demo, 280, 512, 75, 25, false);
    BitBtn7 = MakeButton(client, "BitBtn7", "End ", Picture::End, 368, 512, 105, 25, true);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFont(QApplication::font(StatusBar1));
    StatusBar1->setSizeGripEnabled(true);
    StatusBar1->setFixedHeight(StatusBarHeight);
    StatusBar1->setAutoFillBackground(true);
    StatusPanel = new QLabel(QStringLiteral("Info"), StatusBar1);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusBar1->addWidget(StatusPanel, 1);
    setStatusBar(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Timer1Interval);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(Timer2Interval);
    Timer2->setTimerType(Qt::PreciseTimer);
}

void TForm1::SetTabOrder() {
    // Memo1 is the first control that takes the focus; the rest follow it.
    // The status bar comes between Edit1 and BitBtn1 but takes no focus, so it
    // has no place in the chain.
    QWidget* const order[] = {Memo1,     CheckBox1, CheckBox2, CheckBox3, CheckBox4,
                              CheckBox5, CheckBox6, CheckBox7, Edit1,     BitBtn1,
                              BitBtn2,   BitBtn3,   BitBtn4,   BitBtn5,   BitBtn6,
                              BitBtn7,   BitBtn8,   CheckBox8, CheckBox9};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void TForm1::ConnectHandlers() {
    // Connected after the designed marks were set: building the window runs
    // no handler. From here on every real change of a mark runs its handler.
    connect(CheckBox1, &QCheckBox::toggled, this, &TForm1::CheckBox1Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &TForm1::CheckBox2Click);
    connect(CheckBox3, &QCheckBox::toggled, this, &TForm1::CheckBox3Click);
    connect(CheckBox4, &QCheckBox::toggled, this, &TForm1::CheckBox4Click);
    connect(CheckBox5, &QCheckBox::toggled, this, &TForm1::CheckBox5Click);
    connect(CheckBox6, &QCheckBox::toggled, this, &TForm1::CheckBox6Click);
    connect(CheckBox7, &QCheckBox::toggled, this, &TForm1::CheckBox7Click);
    connect(CheckBox8, &QCheckBox::toggled, this, &TForm1::CheckBox8Click);
    connect(CheckBox9, &QCheckBox::toggled, this, &TForm1::CheckBox9Click);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);
    connect(BitBtn8, &QPushButton::clicked, this, &TForm1::BitBtn8Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    Edit1->installEventFilter(this);

    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
}

// ---- Status line, status bar colour, error box, reading list ----

void TForm1::SetStatus(const QString& text) {
    StatusPanel->setText(text);
    StatusBar1->repaint();
    emit statusTextChanged(text);
}

QString TForm1::StatusText() const {
    return StatusPanel->text();
}

QColor TForm1::StatusBarColor() const {
    return StatusBar1->palette().color(StatusBar1->backgroundRole());
}

void TForm1::SetStatusBarColor(const QColor& color) {
    QPalette palette = StatusBar1->palette();
    palette.setColor(StatusBar1->backgroundRole(), color);
    StatusBar1->setPalette(palette);
}

void TForm1::ShowError(const QString& text) {
    ErrorBox box(this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(QStringLiteral("Error"));
    box.setIcon(QMessageBox::Critical);
    box.setText(text);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

QString TForm1::ReadRow(int row) const {
    MemoLines lines(*Memo1->document());
    return QString::fromStdU16String(readinglist::ReadRow(lines, row));
}

void TForm1::WriteRow(int row, const QString& text) {
    MemoLines lines(*Memo1->document());
    readinglist::WriteRow(lines, row, text.toStdU16String());
}

// ---- Activation and the start-up sequence ----

bool TForm1::event(QEvent* e) {
    const bool result = QMainWindow::event(e);
    if (e->type() == QEvent::WindowActivate)
        StartWhenActive();
    return result;
}

void TForm1::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    // Watch for the window to reach the screen: the start-up waits for that,
    // so that its status texts can be seen.
    if (QWindow* window = windowHandle(); window && !watchingExposure_) {
        window->installEventFilter(this);
        watchingExposure_ = true;
    }
}

void TForm1::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // A window that was minimised when it became active starts once restored.
    if (e->type() == QEvent::WindowStateChange)
        StartWhenActive();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    // The order field is left when the focus moves to another control of the
    // window, not when another window or a menu takes the activation.
    if (watched == Edit1 && e->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            Edit1Exit();
    }
    if (watched == windowHandle() && e->type() == QEvent::Expose && !startupBegun_) {
        // After the window has painted itself.
        QMetaObject::invokeMethod(this, &TForm1::StartWhenActive, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, e);
}

void TForm1::StartWhenActive() {
    const QWindow* window = windowHandle();
    if (!startupBegun_ && isActiveWindow() && !isMinimized() && window && window->isExposed())
        FormActivate();
}

void TForm1::FormActivate() {
    // Once only: an error box opened below, or any later return of the
    // activation, must not start it again.
    if (startupBegun_)
        return;
    startupBegun_ = true;

    // 1. The settings, or the defaults written to a new file.
    if (!LoadSettings()) {
        Settings.Port = 29;
        Settings.OrderToKeyboard = false;
        Settings.TimeToKeyboard = false;
        Settings.AutoLedOff = true;
        Settings.MinimizeAtStart = false;
        Settings.SaveOnDisk = false;
        Settings.SoundSignal = true;
        Settings.OrderNumber = 0;
        if (!SaveSettings())
            ShowError(QStringLiteral("Error saving parameters"));
    }

    // 2.
    DemoStopped = false;
    bool found = false;
    SavedBarColor = StatusBarColor();

    // 3. The port search, beginning at the port where the reader was last found.
    for (const int port : PortSearchOrder(Settings.Port)) {
        SetStatus(QStringLiteral("I test the port COM") + QString::number(port));
        if (!OpenPort(port))
            continue;
        platform::TheClock().sleepMs(PortSettleMs);
        if (QueryVersion()) {
            const QString version = Latin1(ReaderVersion);
            SetStatus(QStringLiteral("Connected device ZEVO") + version +
                      QStringLiteral(" on port COM") + QString::number(port));
            found = true;
            Settings.Port = std::uint8_t(port);
            setWindowTitle(windowTitle() + version);
            break;
        }
        if (!ClosePort())
            SetStatus(QStringLiteral("Error closing port"));
    }

    // 4. Connected, or no reader.
    if (found) {
        Timer1->start();
        Image1->show();
        Label3->show();
        Label1->show();
        Label2->show();
        Memo1->show();
        Memo1->setFocus();
        WriteRow(0, QString());
    } else {
        SetStatus(QStringLiteral("No device was identified on any serial port."));
        BitBtn8->show();
        DemoStopped = true;
        DemoRandom.seed(std::mt19937::result_type(platform::TheClock().highResolutionCounter()));
        for (QPushButton* button : {BitBtn1, BitBtn2, BitBtn3, BitBtn4, BitBtn5})
            button->setEnabled(false);
    }

    // 5.
    RunningOrder = Settings.OrderNumber;
    DisplayRow = 0;
    Edit1->setText(QString::number(std::uint32_t(Settings.OrderNumber)));

    // 6.-8. Each change of a mark runs its handler, which copies the mark back.
    if (Settings.ChipToKeyboard) {
        CheckBox1->setChecked(true);
        CheckBox3->show();
        CheckBox4->show();
        CheckBox3->setChecked(Settings.OrderToKeyboard);
        CheckBox4->setChecked(Settings.TimeToKeyboard);
    } else {
        CheckBox1->setChecked(false);
    }
    CheckBox2->setChecked(Settings.AutoLedOff);
    CheckBox6->setChecked(Settings.SaveOnDisk);
    CheckBox7->setChecked(Settings.SoundSignal);
    CheckBox9->setChecked(Settings.CrcDigits);
    if (Settings.MinimizeAtStart) {
        CheckBox5->setChecked(true);
        setWindowState(windowState() | Qt::WindowMinimized);
    } else {
        CheckBox5->setChecked(false);
    }
    startupDone_ = true;
}

// ---- Option check boxes ----

void TForm1::CheckBox1Click() {
    if (CheckBox1->isChecked()) {
        Settings.ChipToKeyboard = true;
        CheckBox3->show();
        CheckBox4->show();
        CheckBox3->setChecked(Settings.OrderToKeyboard);
        CheckBox4->setChecked(Settings.TimeToKeyboard);
    } else {
        Settings.OrderToKeyboard = false;
        Settings.TimeToKeyboard = false;
        Settings.ChipToKeyboard = false;
        CheckBox3->hide();
        CheckBox4->hide();
    }
}

void TForm1::CheckBox2Click() {
    Settings.AutoLedOff = CheckBox2->isChecked();
}
void TForm1::CheckBox3Click() {
    Settings.OrderToKeyboard = CheckBox3->isChecked();
}
void TForm1::CheckBox4Click() {
    Settings.TimeToKeyboard = CheckBox4->isChecked();
}
void TForm1::CheckBox5Click() {
    Settings.MinimizeAtStart = CheckBox5->isChecked();
}
void TForm1::CheckBox6Click() {
    Settings.SaveOnDisk = CheckBox6->isChecked();
}
void TForm1::CheckBox7Click() {
    Settings.SoundSignal = CheckBox7->isChecked();
}
void TForm1::CheckBox8Click() {}  // "Family": never shown, changes nothing
void TForm1::CheckBox9Click() {
    Settings.CrcDigits = CheckBox9->isChecked();
}

// ---- Lamp and reader commands ----

void TForm1::ShowLamp(bool ledOn, bool now) {
    QLabel* shown = ledOn ? Image2 : Image1;
    QLabel* hidden = ledOn ? Image1 : Image2;
    hidden->hide();
    shown->show();
    if (now) {
        // Paint the lamp's place at once: what follows blocks the event loop.
        shown->parentWidget()->repaint(shown->geometry());
    }
}

void TForm1::SendReaderCommand(char code, const char* done, const char* failed) {
    const bool ok = SendCommand(code);
    SetStatus(QString::fromLatin1(ok ? done : failed));
    if (ok && code == CommandLedOn)
        ShowLamp(true);
    if (ok && code == CommandLedOff)
        ShowLamp(false);
}

void TForm1::BitBtn1Click() {
    SendReaderCommand(CommandBlock, "Reader blocked", "Error blocking the reader");
}

void TForm1::BitBtn2Click() {
    SendReaderCommand(CommandUnblock, "Reader unblocked", "Error unblocking the reader");
}

void TForm1::BitBtn3Click() {
    // The reader's own text ends in the byte 0xED, "í" in the Windows code page.
    SendReaderCommand(CommandLedOn, "The LED is on\xED", "Error while turning on LEDs");
}

void TForm1::BitBtn4Click() {
    SendReaderCommand(CommandLedOff, "LED off", "Error when LED goes off");
}

void TForm1::BitBtn5Click() {
    // A repeat read is only shown: not counted, logged, typed or listed.
    if (RepeatRead()) {
        SetStatus(Latin1(ChipCode.str()));
        SetStatusBarColor(RepeatReadBarColor);
    } else {
        SetStatus(QStringLiteral("Error while reading the chip"));
    }
}

// ---- Order field, End and the manufacturer window ----

void TForm1::Edit1Exit() {
    const std::optional<std::uint32_t> number = ParseOrderNumber(Edit1->text().toStdString());
    if (!number) {
        ShowError(QStringLiteral("Bad number format"));
        return;
    }
    Settings.OrderNumber = *number;
    RunningOrder = *number;
}

void TForm1::BitBtn6Click() {
    Settings.OrderNumber = 0;
    RunningOrder = 0;
    DisplayRow = 0;
    Edit1->setText(QStringLiteral("0"));
}

void TForm1::BitBtn7Click() {
    if (!ClosePort())
        ShowError(QStringLiteral("Error closing port"));
    Timer1->stop();
    if (!SaveSettings())
        ShowError(QStringLiteral("Error saving parameters"));
    close();
}

void TForm1::SpeedButton1Click() {
    TForm2 form(this);
    form.exec();
}

// ---- The reading cycle ----

void TForm1::Timer1Timer() {
    Timer1->stop();
    if (PollChip()) {
        ShowLamp(true, true);
        SetStatusBarColor(SavedBarColor);
        RecordReading();
        if (Settings.SoundSignal)
            platform::TheSound().information();
        if (Settings.AutoLedOff) {
            if (SendCommand(CommandLedOff))
                ShowLamp(false);
            else
                SetStatus(QStringLiteral("Error when LED goes off"));
        }
    }
    // On every path: the next poll starts a full interval after this one ended.
    Timer1->start();
}

void TForm1::RecordReading() {
    TimeText = FormatTime();
    const bool withOrder = Settings.OrderToKeyboard;
    const bool withTime = Settings.TimeToKeyboard;
    ++RunningOrder;  // wraps at 2^32
    Settings.OrderNumber = RunningOrder;
    Edit1->setText(QString::number(RunningOrder));

    if (Settings.SaveOnDisk && !AppendLog())
        SetStatus(QStringLiteral("Error saving data"));

    if (Settings.ChipToKeyboard) {
        if (!TypeReading(withOrder, withTime) && !typingFailureShown_) {
            typingFailureShown_ = true;
            SetStatus(QStringLiteral("Chip codes cannot be typed here: no display to type into"));
        }
        return;
    }
    const QString row = QString::number(RunningOrder) + QString(7, QLatin1Char(' ')) +
                        Latin1(TimeText.str()) + QString(6, QLatin1Char(' ')) +
                        Latin1(ChipCode.str());
    MemoLines lines(*Memo1->document());
    DisplayRow = readinglist::AddReading(lines, DisplayRow, row.toStdU16String());
}

// ---- Demo ----

void TForm1::BitBtn8Click() {
    Image1->show();
    Label3->show();
    Label1->show();
    Label2->show();
    Memo1->show();
    Memo1->setFocus();
    WriteRow(0, QString());
    if (DemoStopped) {
        BitBtn8->setText(QStringLiteral("Stop"));
        DemoStopped = false;
        Timer2->start();
    } else {
        BitBtn8->setText(QStringLiteral("Demo"));
        DemoStopped = true;
        Timer2->stop();
    }
}

void TForm1::Timer2Timer() {
    // The timer keeps running meanwhile.
    DemoRandom.seed(std::mt19937::result_type(platform::TheClock().highResolutionCounter()));
    std::uniform_int_distribution<std::uint32_t> draw(0, DemoCodeLimit - 1);
    ChipCode = DemoChipText(draw(DemoRandom));
    ShowLamp(true, true);
    RecordReading();
    if (Settings.SoundSignal)
        platform::TheSound().information();
    platform::TheClock().sleepMs(DemoLampMs);
    if (Settings.AutoLedOff)
        ShowLamp(false);
}
