#include "gui/app/start_up.h"

#include "gui/app/window_look.h"

#include <QApplication>

namespace quillner {

StartOptions parseStartOptions(const QStringList& arguments)
{
    StartOptions options;
    const QString homeOption = QStringLiteral("--home");
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--help") || argument == QStringLiteral("-h")) {
            options.help = true;
        } else if (argument == QStringLiteral("--version")) {
            options.version = true;
        } else if (argument == homeOption) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                options.error = QStringLiteral("--home needs a folder");
                break;
            }
            options.home = arguments[++i];
        } else if (argument.startsWith(homeOption + u'=')) {
            options.home = argument.mid(homeOption.size() + 1);
            if (options.home.isEmpty()) {
                options.error = QStringLiteral("--home needs a folder");
                break;
            }
        } else {
            options.notOurs.append(argument);
        }
    }
    return options;
}

QString startHelpText()
{
    return QStringLiteral(
        "Usage: Quillner [--home DIR]\n"
        "\n"
        "Configures the Quillner serial-to-CAN gateway: creates and opens projects, edits\n"
        "their general parameters and CAN receive filter, compiles them into the device's\n"
        "configuration bank, merges it into the firmware and starts the flashing tool.\n"
        "\n"
        "Options:\n"
        "  --home DIR     Keep Quillner.ini, MASTER and PROJECTS in DIR. By default they\n"
        "                 are kept beside the program when its folder is portable\n"
        "                 (writable, or holding Quillner.ini or PROJECTS), else in\n"
        "                 ~/.local/share/Quillner.\n"
        "  -h, --help     Show this text and exit.\n"
        "  --version      Show the version and exit.\n"
        "\n"
        "Qt's own options, such as -platform NAME and -style NAME, are passed on to Qt.\n"
        "Quillner needs a graphical display; quillner-cli updates a device without one.\n"
        "\n"
        "Exit status: 0 when the window was closed; 1 without a display; 2 for a wrong\n"
        "option.\n");
}

QString startVersionText()
{
    return QStringLiteral("Quillner " QUILLNER_VERSION "\n");
}

QString noDisplayMessage()
{
    return QStringLiteral("Quillner: no display found (DISPLAY and WAYLAND_DISPLAY are not "
                          "set); it is a desktop tool and needs one, quillner-cli does not.\n");
}

bool canShowWindows(const QStringList& arguments, const QProcessEnvironment& environment)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!environment.value(QString::fromLatin1(name)).isEmpty())
            return true;
    }
    for (const QString& argument : arguments) {
        for (const QString& option : {QStringLiteral("-platform"), QStringLiteral("--platform")}) {
            if (argument == option || argument.startsWith(option + u'='))
                return true;
        }
    }
    return false;
#else
    Q_UNUSED(arguments);
    Q_UNUSED(environment);
    return true;
#endif
}

void setUpApplication()
{
    // Only the application name: a display name would be appended to every window caption.
    QApplication::setApplicationName(QStringLiteral("Firmware Quillner"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLNER_VERSION));
    // The installed desktop entry, so that a Wayland desktop finds its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("quillner"));
    QApplication::setWindowIcon(applicationIcon());
}

} // namespace quillner
