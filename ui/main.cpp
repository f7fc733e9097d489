// The application object: shows the main window modally and ends when it closes.
#include "CMainDialog.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // The widgets' library carries the icon; a static library's resources are registered
    // only when asked for.
    Q_INIT_RESOURCE(brimvale);
    QApplication::setApplicationName(QStringLiteral("Brimvale"));
    QApplication::setApplicationVersion(QStringLiteral("8.7"));
    QApplication::setDesktopFileName(QStringLiteral("brimvale"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/brimvale/brimvale.png")));

    CMainDialog dialog;
    // The work of the last run comes back; it is kept again when the window closes.
    dialog.RestoreWork();
    dialog.exec();
    return 0;
}
