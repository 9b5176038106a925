#pragma once

#include <QString>

#include <chrono>
#include <functional>

class QProcess;

namespace quillner::testing {

// Waits for what another process does to a file: ready() is asked at once and again each time
// the file or its folder changes (the kernel tells, nothing is polled), until it holds, the
// process given ends, or the limit passes. The limit only keeps a broken run from hanging.
bool waitForFile(const QString& path, const std::function<bool()>& ready,
                 const QProcess* writer = nullptr,
                 std::chrono::milliseconds limit = std::chrono::minutes(2));

// Until the file exists.
bool waitForFileToExist(const QString& path, const QProcess* writer = nullptr);

// Until the file holds at least `lines` line feeds.
bool waitForLines(const QString& path, int lines, const QProcess* writer = nullptr);

} // namespace quillner::testing
