#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quillner {

// What the command line of Quillner asks for. Decided before any window system is touched, so
// that --help and --version work without a display.
struct StartOptions
{
    bool help = false;
    bool version = false;
    QString home;        // --home DIR: the folder of Quillner.ini, MASTER and PROJECTS
    QString error;       // a usage error, for the exit status 2
    QStringList notOurs; // left for Qt (-platform NAME, -style NAME, ...)
};

// arguments as the program got them, its own name first.
StartOptions parseStartOptions(const QStringList& arguments);

QString startHelpText();
QString startVersionText();
QString noDisplayMessage();

// Whether a window system can be reached: on Linux and the other X11 or Wayland systems a
// display must be named, or a platform chosen (QT_QPA_PLATFORM or -platform, offscreen too).
bool canShowWindows(const QStringList& arguments, const QProcessEnvironment& environment);

// The application name, version, desktop entry and window icon shared by every window.
void setUpApplication();

} // namespace quillner
