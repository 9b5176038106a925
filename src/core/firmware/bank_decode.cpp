#include "core/firmware/bank_decode.h"

#include "core/app/error.h"
#include "core/device/bank_records.h"

#include <QFile>
#include <QFileInfo>

namespace quillner {

ConfigurationBank readBankFile(const QString& path, int bankNumber)
{
    const QFileInfo info(path);
    if (!info.isFile())
        throw Error(QStringLiteral("File %1 not found").arg(path));
    // No S-record file is this short and still holds a whole bank: 512 records are longer.
    if (info.size() == kBankSize)
        return readBankImageFile(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    char firstByte = 0;
    if (!file.getChar(&firstByte) || firstByte != 'S')
        throw Error(QStringLiteral("%1 is neither a %2-byte bank image nor an S-record file")
                        .arg(path)
                        .arg(kBankSize));
    file.close();
    return readBankFromSRecords(path, bankNumber);
}

} // namespace quillner
