#include "core/bank/bank_decode.h"

#include "core/app/file_io.h"
#include "core/device/bank_records.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace quillner {

namespace {

Result<ConfigurationBank> notRead(const QString& text)
{
    return Result<ConfigurationBank>::failure({{{}, {}, text}});
}

} // namespace

Result<ConfigurationBank> readBankFile(const QString& path, int bankNumber)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return notRead(QStringLiteral("File %1 not found").arg(path));
    // No S-record file is this short and still holds a whole bank: 512 records are longer.
    if (info.size() == kBankSize)
        return {readBankImageFile(path), {}, {}};
    // An S-record file begins with a record; empty lines before it are read, and refused, as
    // every reader of records refuses them.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return notRead(cannotOpenFileMessage(path, file.errorString()));
    const QByteArray head = file.read(256);
    file.close();
    const qsizetype first =
        std::find_if(head.begin(), head.end(), [](char c) { return c != '\r' && c != '\n'; }) -
        head.begin();
    if (first >= head.size() || head[first] != 'S')
        return notRead(QStringLiteral("%1 is neither a %2-byte bank image nor an S-record file")
                           .arg(path)
                           .arg(kBankSize));
    return readBankFromSRecords(path, bankNumber);
}

} // namespace quillner
