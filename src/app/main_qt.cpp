// The program entry on Qt: the main window with its behaviour, the
// manufacturer window that is made but never shown, and the event loop until
// the main window closes; the publishing to a site's broker beside them.
#include <QApplication>

#include "Config.h"
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

    // Readings to the site's broker, and typed as the site wants them, when
    // the folder has a site file.
    const site::Site site = site::StartSite({}, [&window, &Form1](const std::string& text) {
        window.post([&Form1, text] { Form1.SiteNotice(text); });
    });
    Form1.UseSiteRules(site.rules);
    site::UsePublishing(site.publishing.get());
    const int code = app.exec();
    site::UsePublishing(nullptr);
    return code;  // the station says "offline" as it goes
}
