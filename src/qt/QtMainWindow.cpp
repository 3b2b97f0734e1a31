#include "QtMainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
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
#include <algorithm>
#include <vector>

#include "Form2.h"
#include "Layout.h"
#include "Look.h"
#include "MainWindow.h"
#include "ReadingList.h"
#include "Texts.h"

namespace {

QString Q(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

std::string Utf8(const QString& text) {
    return text.toStdString();
}

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

QWidget* MakeControl(QWidget* parent, const ControlLayout& entry) {
    const QString caption = QString::fromLatin1(entry.caption);
    QWidget* w = nullptr;
    switch (entry.kind) {
        case Kind::Label: {
            auto* label = new QLabel(caption, parent);
            label->setTextFormat(Qt::PlainText);
            // The label paints the window colour behind its text, so a label
            // that sits on a frame's edge hides the edge there.
            label->setAutoFillBackground(true);
            label->adjustSize();
            label->move(entry.left, entry.top);
            w = label;
            break;
        }
        case Kind::Picture: {
            auto* lamp = new QLabel(parent);
            lamp->setPixmap(LampPicture(entry.picture == Picture::LampOn));
            w = lamp;
            break;
        }
        case Kind::SpeedButton: {
            auto* button = new QToolButton(parent);
            button->setIcon(ButtonIcon(entry.picture));
            button->setIconSize(QSize(ButtonPictureSize, ButtonPictureSize));
            button->setToolButtonStyle(Qt::ToolButtonIconOnly);
            button->setFocusPolicy(Qt::NoFocus);
            w = button;
            break;
        }
        case Kind::Memo: {
            auto* memo = new QPlainTextEdit(parent);
            memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            memo->setTabChangesFocus(true);
            memo->setPlainText(QString(readinglist::DesignedEmptyLines, QLatin1Char('\n')));
            // Every row the program writes would stay in the edit history for
            // good: memory that grows with every reading of a long shift.
            memo->setUndoRedoEnabled(false);
            w = memo;
            break;
        }
        case Kind::Bevel: {
            auto* bevel = new QFrame(parent);
            bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
            w = bevel;
            break;
        }
        case Kind::Button: {
            auto* button = new QPushButton(ButtonIcon(entry.picture), caption, parent);
            button->setIconSize(QSize(ButtonPictureSize, ButtonPictureSize));
            button->setAutoDefault(false);
            w = button;
            break;
        }
        case Kind::CheckBox: {
            auto* box = new QCheckBox(caption, parent);
            box->setChecked(entry.checked);
            w = box;
            break;
        }
        case Kind::Edit:
            w = new QLineEdit(caption, parent);
            break;
        case Kind::StatusBar:
            return nullptr;  // made by the window itself
    }
    w->setObjectName(QString::fromLatin1(entry.name));
    if (entry.kind != Kind::Label)
        w->setGeometry(entry.left, entry.top, entry.width, entry.height);
    w->setVisible(entry.shown);
    return w;
}

}  // namespace

QtMainWindow::QtMainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(texts::MainCaption));
    setWindowIcon(ProgramIcon());
    setFont(ProgramFont(WindowFontPixels));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    buildControls();
    applyTabOrder();

    resize(ClientWidth, ClientHeight);
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(OuterWidth, OuterHeight),
                             screen()->availableGeometry())
             .topLeft());
}

QtMainWindow::~QtMainWindow() = default;

void QtMainWindow::buildControls() {
    // The controls lie on top of each other in the order they are made here.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    setCentralWidget(client);

    for (const ControlLayout& entry : Form1Layout) {
        QWidget* w = MakeControl(client, entry);
        widgets_[std::size_t(entry.id)] = w;
        if (!w || !entry.handler)
            continue;
        // Building the window ran no handler; from here on the operator's
        // clicks and changed marks do.
        const Control id = entry.id;
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            connect(button, &QAbstractButton::clicked, this, [this, id] {
                if (form_)
                    form_->Clicked(id);
            });
        // The order field's exit; Enter on a button presses it, as on
        // Windows (eventFilter).
        if (entry.kind == Kind::Edit || entry.kind == Kind::Button)
            w->installEventFilter(this);
    }

    const ControlLayout& bar = LayoutOf(Control::StatusBar1);
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QString::fromLatin1(bar.name));
    statusBar_->setFont(QApplication::font(statusBar_));
    statusBar_->setSizeGripEnabled(true);
    statusBar_->setFixedHeight(bar.height);
    statusBar_->setAutoFillBackground(true);
    statusPanel_ = new QLabel(QString::fromLatin1(bar.caption), statusBar_);
    // Device text is text, never markup.
    statusPanel_->setTextFormat(Qt::PlainText);
    statusPanel_->setObjectName(QStringLiteral("StatusPanel"));
    statusBar_->addWidget(statusPanel_, 1);
    setStatusBar(statusBar_);
    widgets_[std::size_t(Control::StatusBar1)] = statusBar_;

    for (const TimerLayout& entry : Form1Timers) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(entry.name));
        timer->setInterval(int(entry.intervalMs));
        timer->setTimerType(Qt::PreciseTimer);
        const Timer id = entry.id;
        connect(timer, &QTimer::timeout, this, [this, id] {
            if (form_)
                form_->Tick(id);
        });
        timers_[std::size_t(entry.id)] = timer;
    }
}

void QtMainWindow::applyTabOrder() {
    const std::vector<Control> order = TabOrder();
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(widget(order[i - 1]), widget(order[i]));
}

// ---- Controls ----

std::string QtMainWindow::text(Control c) const {
    QWidget* w = widget(c);
    if (auto* label = qobject_cast<QLabel*>(w))
        return Utf8(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return Utf8(button->text());
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return Utf8(edit->text());
    if (c == Control::StatusBar1)
        return Utf8(statusPanel_->text());
    return {};
}

void QtMainWindow::setText(Control c, std::string_view text) {
    QWidget* w = widget(c);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(Q(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(Q(text));
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(Q(text));
    else if (c == Control::StatusBar1)
        setStatus(text);
}

bool QtMainWindow::shown(Control c) const {
    return widget(c)->isVisibleTo(this);
}

void QtMainWindow::setShown(Control c, bool shown) {
    widget(c)->setVisible(shown);
}

void QtMainWindow::setEnabled(Control c, bool enabled) {
    widget(c)->setEnabled(enabled);
}

bool QtMainWindow::checked(Control c) const {
    auto* box = qobject_cast<QAbstractButton*>(widget(c));
    return box && box->isChecked();
}

void QtMainWindow::setChecked(Control c, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(widget(c)))
        box->setChecked(checked);
}

void QtMainWindow::setFocus(Control c) {
    widget(c)->setFocus();
}

void QtMainWindow::paintNow(Control c) {
    QWidget* w = widget(c);
    w->parentWidget()->repaint(w->geometry());
}

// ---- Status line ----

void QtMainWindow::setStatus(std::string_view text) {
    const QString shownText = Q(text);
    statusPanel_->setText(shownText);
    statusBar_->repaint();
    emit statusTextChanged(shownText);
}

Color QtMainWindow::statusColor() const {
    const QColor c = statusBar_->palette().color(statusBar_->backgroundRole());
    return Rgb(std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue()));
}

void QtMainWindow::setStatusColor(Color colour) {
    QPalette palette = statusBar_->palette();
    palette.setColor(statusBar_->backgroundRole(),
                     QColor(int(colour & 0xFF), int(colour >> 8 & 0xFF), int(colour >> 16 & 0xFF)));
    statusBar_->setPalette(palette);
}

// ---- The reading list ----

int QtMainWindow::lineCount() const {
    return static_cast<QPlainTextEdit*>(widget(Control::Memo1))->document()->blockCount();
}

std::string QtMainWindow::lineText(int line) const {
    const QTextDocument* document =
        static_cast<QPlainTextEdit*>(widget(Control::Memo1))->document();
    return Utf8(document->findBlockByNumber(line).text());
}

void QtMainWindow::setLineText(int line, std::string_view text) {
    QTextDocument* document = static_cast<QPlainTextEdit*>(widget(Control::Memo1))->document();
    QTextCursor cursor(document->findBlockByNumber(line));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(Q(text));
}

// ---- The window ----

std::string QtMainWindow::caption() const {
    return Utf8(windowTitle());
}

void QtMainWindow::setCaption(std::string_view caption) {
    setWindowTitle(Q(caption));
}

void QtMainWindow::minimize() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void QtMainWindow::close() {
    QMainWindow::close();
}

void QtMainWindow::startTimer(Timer t) {
    timer(t)->start();
}

void QtMainWindow::stopTimer(Timer t) {
    timer(t)->stop();
}

void QtMainWindow::showError(std::string_view text) {
    ErrorBox box(this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(QString::fromLatin1(texts::ErrorCaption));
    box.setIcon(QMessageBox::Critical);
    box.setTextFormat(Qt::PlainText);
    box.setText(Q(text));
    QPushButton* ok =
        box.addButton(QString::fromLatin1(texts::ErrorButton), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

void QtMainWindow::showManufacturer() {
    TForm2 form(this);
    form.exec();
}

// ---- Activation, exposure and focus ----

bool QtMainWindow::event(QEvent* e) {
    const bool result = QMainWindow::event(e);
    if (e->type() == QEvent::WindowActivate)
        reportWindowFacts();
    return result;
}

void QtMainWindow::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    // Watch for the window to reach the screen: the start-up waits for that,
    // so that its status texts can be seen.
    if (QWindow* window = windowHandle(); window && !watchingExposure_) {
        window->installEventFilter(this);
        watchingExposure_ = true;
    }
}

void QtMainWindow::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // A window that was minimised when it became active starts once restored.
    if (e->type() == QEvent::WindowStateChange)
        reportWindowFacts();
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            button->click();
            return true;
        }
    }
    // The order field is left when the focus moves to another control of the
    // window, not when another window or a menu takes the activation.
    if (watched == widget(Control::Edit1) && e->type() == QEvent::FocusOut && form_) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            form_->FocusLeft(Control::Edit1);
    }
    if (watched == windowHandle() && e->type() == QEvent::Expose && form_ &&
        !form_->StartupDone()) {
        // After the window has painted itself.
        QMetaObject::invokeMethod(this, &QtMainWindow::reportWindowFacts, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, e);
}

void QtMainWindow::reportWindowFacts() {
    const QWindow* window = windowHandle();
    if (form_)
        form_->Activated({window && window->isExposed(), isActiveWindow(), isMinimized()});
}

void QtMainWindow::post(std::function<void()> function) {
    // Queued to this object's thread; deleted unrun with the window.
    QMetaObject::invokeMethod(this, std::move(function), Qt::QueuedConnection);
}
