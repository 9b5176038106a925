#include "support/file_wait.h"

#include "test_files.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTimer>

namespace quillner::testing {

bool waitForFile(const QString& path, const std::function<bool()>& ready, const QProcess* writer,
                 std::chrono::milliseconds limit)
{
    QFileSystemWatcher watcher;
    QEventLoop loop;
    bool timedOut = false;
    // A folder tells when the file (or a folder on its way) is made or replaced, the file when
    // it is written to; folders that do not exist yet are watched from the nearest that does.
    const auto watchFile = [&] {
        for (QFileInfo folder(QFileInfo(path).absolutePath());;
             folder.setFile(folder.absolutePath())) {
            if (folder.isDir()) {
                if (!watcher.directories().contains(folder.absoluteFilePath()))
                    watcher.addPath(folder.absoluteFilePath());
                break;
            }
            if (folder.isRoot())
                break;
        }
        if (QFileInfo::exists(path) && !watcher.files().contains(path))
            watcher.addPath(path);
    };
    const auto lookAgain = [&] {
        watchFile();
        if (ready())
            loop.quit();
    };
    watchFile();
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, lookAgain);
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, lookAgain);
    if (writer)
        QObject::connect(writer, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer limitTimer;
    limitTimer.setSingleShot(true);
    QObject::connect(&limitTimer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    if (ready())
        return true;
    if (writer && writer->state() == QProcess::NotRunning)
        return false;
    limitTimer.start(limit);
    loop.exec();
    return !timedOut && ready();
}

bool waitForFileToExist(const QString& path, const QProcess* writer)
{
    return waitForFile(
        path, [&] { return QFileInfo::exists(path); }, writer);
}

bool waitForLines(const QString& path, int lines, const QProcess* writer)
{
    return waitForFile(
        path, [&] { return readFile(path).count('\n') >= lines; }, writer);
}

} // namespace quillner::testing
