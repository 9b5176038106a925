#include "core/device/configuration_bank.h"

#include "core/app/file_io.h"

#include <algorithm>

namespace quillner {

void storeBitmap(ConfigurationBank& bank, const IdentifierBitmap& bitmap)
{
    std::copy(bitmap.begin(), bitmap.end(), bank.begin() + kFilterAreaOffset);
}

bool isErasedBank(const ConfigurationBank& bank)
{
    return std::all_of(bank.begin(), bank.end(), [](quint8 byte) { return byte == 0xFF; });
}

std::optional<ConfigurationBank> bankOfBytes(QByteArrayView bytes)
{
    if (bytes.size() != kBankSize)
        return std::nullopt;
    ConfigurationBank bank{};
    std::copy(bytes.begin(), bytes.end(), bank.begin());
    return bank;
}

ConfigurationBank readBankImageFile(const QString& path)
{
    return *bankOfBytes(readFileBytes(path, FileSize::exactly(kBankSize)));
}

} // namespace quillner
