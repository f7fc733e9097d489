// The application object: shows the main window modally and ends when it closes. Files
// named on the command line are added to the list as "Add Photo..." adds a selection; each
// start is a process and a window of its own.
#include "CMainDialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

// The text of --help; brimvale(1) is made from it, so an option belongs here first.
const char* const HELP
    = "Usage: brimvale [OPTION]... [FILE]...\n"
      "Start the Brimvale desktop program, which turns a set of photos into one looping\n"
      "animated GIF. The photos FILE... are added to its list as \"Add Photo...\" adds a\n"
      "selection: sorted by path without regard to case, each composed into a frame, and\n"
      "those that can't be read named in one message. Each start opens a window of its own.\n"
      "\n"
      "Options:\n"
      "  -h, --help     show this text and exit\n"
      "  -v, --version  show the version and exit\n"
      "  --             take every argument after it as a file\n"
      "\n"
      "Qt's own options (-platform, -display, -style and the others) are taken as well.\n"
      "\n"
      "Exit status: 0 when the window was closed, 2 a usage error.\n";

// --help and --version are answered before Qt starts, so that they need no display.
bool AnswersWithoutWindow(int argc, char** argv, int* status)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HELP, stdout);
            *status = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("brimvale %s\n", BRIMVALE_VERSION);
            *status = 0;
            return true;
        }
    }
    return false;
}

// The files among the arguments Qt left, as absolute paths; false after telling of an
// option that isn't one.
bool FilesFromArguments(const QStringList& arguments, QStringList* files)
{
    bool optionsEnd = false;
    for (qsizetype i = 1; i < arguments.size(); i++) {
        const QString& argument = arguments[i];
        if (!optionsEnd && argument == QStringLiteral("--")) {
            optionsEnd = true;
        } else if (!optionsEnd && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            std::fprintf(stderr, "brimvale: unknown option '%s'\nTry 'brimvale --help'.\n",
                argument.toLocal8Bit().constData());
            return false;
        } else {
            files->append(QFileInfo(argument).absoluteFilePath());
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int status = 0;
    if (AnswersWithoutWindow(argc, argv, &status))
        return status;
    QApplication application(argc, argv);
    QStringList files;
    if (!FilesFromArguments(QApplication::arguments(), &files))
        return 2;
    // The widgets' library carries the icon; a static library's resources are registered
    // only when asked for.
    Q_INIT_RESOURCE(brimvale);
    QApplication::setApplicationName(QStringLiteral("Brimvale"));
    QApplication::setApplicationVersion(QStringLiteral(BRIMVALE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.brimvale.Brimvale"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/brimvale/brimvale.png")));

    CMainDialog dialog;
    // The work of the last run comes back; it is kept again when the window closes.
    dialog.RestoreWork();
    // Added after the photos that come back, once the window shows, so that the progress
    // and any message sit on it.
    if (!files.isEmpty())
        QTimer::singleShot(0, &dialog, [&] { dialog.AddChosenPhotos(files); });
    dialog.exec();
    return 0;
}
