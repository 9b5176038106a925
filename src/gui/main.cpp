#include "core/app/app_paths.h"
#include "gui/app/main_window.h"
#include "gui/app/start_up.h"

#include <QApplication>

#include <cstdio>

namespace {

void print(std::FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int usageError(const QString& message)
{
    print(stderr, QStringLiteral("Quillner: %1\nTry 'Quillner --help'.\n").arg(message));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace quillner;
    // Everything that needs no window is decided before Qt looks for a display: without one,
    // Qt would end the process with an abort.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const StartOptions options = parseStartOptions(arguments);
    if (!options.error.isEmpty())
        return usageError(options.error);
    if (options.help) {
        print(stdout, startHelpText());
        return 0;
    }
    if (options.version) {
        print(stdout, startVersionText());
        return 0;
    }
    if (!canShowWindows(arguments, QProcessEnvironment::systemEnvironment())) {
        print(stderr, noDisplayMessage());
        return 1;
    }

    QApplication application(argc, argv);
    // Qt has taken its own options out; anything else left is no option of this tool.
    const StartOptions left = parseStartOptions(QCoreApplication::arguments());
    if (!left.notOurs.isEmpty())
        return usageError(QStringLiteral("unknown option '%1'").arg(left.notOurs.front()));
    setUpApplication();

    const QString exeDir = QCoreApplication::applicationDirPath();
    TFmain window(exeDir, chooseDataFolder(exeDir, options.home, standardDataFolder()));
    window.show();
    return application.exec();
}
