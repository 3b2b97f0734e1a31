// The program entry: the main window, the manufacturer window that is made
// but never shown, and the event loop until the main window closes.
#include <QApplication>

#include "Form2.h"
#include "Look.h"
#include "MainWindow.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Chip Reader"));
    QApplication::setWindowIcon(ProgramIcon());

    TForm1 Form1;
    TForm2 Form2;

    Form1.show();
    // The start-up search runs when the window becomes active; ask for that
    // even where no window manager hands out the activation.
    Form1.activateWindow();
    return app.exec();
}
