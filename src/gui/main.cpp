#include "gui/app/main_window.h"
#include "gui/app/window_look.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Only the application name: a display name would be appended to every window caption.
    QApplication::setApplicationName(QStringLiteral("Firmware Quillner"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLNER_VERSION));

    quillner::TFmain window(QCoreApplication::applicationDirPath());
    window.show();
    quillner::centreOnScreen(&window);
    return application.exec();
}
