// The program entry on Qt: the main window with its behaviour, the
// manufacturer window that is made but never shown, and the event loop until
// the main window closes.
#include <QApplication>

#include "Form2.h"
#include "Look.h"
#include "MainWindow.h"
#include "QtMainWindow.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chip Reader"));
    QApplication::setWindowIcon(ProgramIcon());

    QtMainWindow window;
    TForm1 Form1(window);
    window.attach(Form1);
    TForm2 Form2;

    window.show();
    // The start-up search runs when the window becomes active; ask for that
    // even where no window manager hands out the activation.
    window.activateWindow();
    return app.exec();
}
