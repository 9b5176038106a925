#pragma once

// A tool folder for the update tests: MASTER with a synthetic firmware, a project with its bin
// folder, and a stand-in Morvex.exe that records how it was started.

#include "core/device/srec_record.h"
#include "gui/app/ui_seams.h"
#include "gui_support.h"
#include "support/synthetic_firmware.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <QTest>

namespace quillner::testing {

inline constexpr auto kFirmwareHeader = "QUILLNER TEST FIRMWARE - NOT FOR DEVICES";

// Code records around bank 1 and the bank's own range, ended by S9.
inline void writeTestFirmware(const QString& path)
{
    writeSyntheticFirmware(path, 0x387000, 0x38D000, 32, kFirmwareHeader);
}

// The flashing tool stand-in: one line per argument, then the folder it was started in. The
// record appears in one step, so a test that sees it sees all of it.
inline constexpr auto kFlasherRecordName = "morvex-call.txt";

inline bool writeRecordingFlasher(const QString& exeDir)
{
    const QString path = QDir(exeDir).filePath(QStringLiteral("Morvex.exe"));
    const QByteArray script = "#!/bin/sh\n"
                              "record=\"$(dirname \"$0\")/morvex-call.txt\"\n"
                              "{ for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done; "
                              "printf 'cwd=%s\\n' \"$(pwd)\"; } > \"$record.part\"\n"
                              "mv \"$record.part\" \"$record\"\n";
    return writeFile(path, script) &&
           QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner |
                                           QFileDevice::ExeUser);
}

// The recorded start: the arguments and "cwd=<folder>", once the record has appeared.
inline QStringList flasherRecord(const QString& exeDir)
{
    const QString text =
        QString::fromUtf8(readFile(QDir(exeDir).filePath(QString::fromLatin1(kFlasherRecordName))));
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace quillner::testing
