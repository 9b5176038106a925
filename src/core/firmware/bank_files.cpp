#include "core/firmware/bank_files.h"

#include "core/app/hex_text.h"

#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "core/app/project_output.h"

namespace quillner {

namespace {

constexpr int kBytesPerLine = 16;
constexpr int kLineCount = kBankSize / kBytesPerLine;

QString binFolder(const QString& projectDir)
{
    return joinPath(projectDir, QStringLiteral("bin"));
}

} // namespace

QString bankBinaryPath(const QString& projectDir)
{
    return joinPath(binFolder(projectDir), QStringLiteral("bank1.bin"));
}

QString bankSourcePath(const QString& projectDir)
{
    return joinPath(binFolder(projectDir), QStringLiteral("bankg.c"));
}

QByteArray bankSourceText(const ConfigurationBank& bank)
{
    static constexpr char kFirstLineStart[] = "const char Bank1 [] = {";
    static constexpr char kIndent[] = "                 "; // 17: not aligned with the first line

    QByteArray text;
    text.reserve(117824);
    text += "#pragma CONST_SEG SEGMENT0\r\n";
    for (int k = 0; k < kLineCount; ++k) {
        text += k == 0 ? kFirstLineStart : kIndent;
        for (int j = 0; j < kBytesPerLine; ++j) {
            const int index = k * kBytesPerLine + j;
            const quint8 value = bank[index];
            text += " 0x";
            hex::appendByte(text, value);
            text += index == kBankSize - 1 ? "};" : ",";
        }
        text += "\r\n";
    }
    text += "\r\n";
    text += "#pragma CONST_SEG DEFAULT\r\n";
    return text;
}

void SaveBankBinary(const QString& projectDir, const ConfigurationBank& bank)
{
    // A bank file that cannot be written is reported: flashing an older one would be worse. The
    // two files are written together, so both places are checked before the first is written.
    checkProjectOutput(projectDir, bankBinaryPath(projectDir));
    checkProjectOutput(projectDir, bankSourcePath(projectDir));
    writeFileAtomically(bankBinaryPath(projectDir),
                        QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize));
}

void SaveBankSource(const QString& projectDir, const ConfigurationBank& bank)
{
    checkProjectOutput(projectDir, bankSourcePath(projectDir));
    writeFileAtomically(bankSourcePath(projectDir), bankSourceText(bank));
}

} // namespace quillner
