#include "core/bank/bank_files.h"

#include "core/app/hex_text.h"

#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "core/app/project_layout.h"
#include "core/app/project_output.h"

#include <QDir>
#include <QFileInfo>

namespace quillner {

namespace {

constexpr int kBytesPerLine = 16;
constexpr int kLineCount = kBankSize / kBytesPerLine;

QString binFolder(const QString& projectDir)
{
    return ProjectLayout::of(projectDir).binFolder;
}

QByteArray bankBytes(const ConfigurationBank& bank)
{
    return QByteArray(reinterpret_cast<const char*>(bank.data()), kBankSize);
}

// A project cloned from a repository has no bin folder. Only a missing one is made, directly in
// an existing project folder; whatever stands there otherwise is checkProjectOutput's to judge.
void makeBinFolder(const QString& projectDir)
{
    const QFileInfo bin(binFolder(projectDir));
    if (bin.exists() || bin.isSymLink() || !QFileInfo(projectDir).isDir())
        return;
    QDir().mkdir(bin.filePath());
}

} // namespace

QString bankBinaryPath(const QString& projectDir)
{
    return ProjectLayout::of(projectDir).bankBinary;
}

QString bankSourcePath(const QString& projectDir)
{
    return ProjectLayout::of(projectDir).bankSource;
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
    writeFileAtomically(bankBinaryPath(projectDir), bankBytes(bank));
}

void SaveBankSource(const QString& projectDir, const ConfigurationBank& bank)
{
    checkProjectOutput(projectDir, bankSourcePath(projectDir));
    writeFileAtomically(bankSourcePath(projectDir), bankSourceText(bank));
}

void SaveBankFiles(const QString& projectDir, const ConfigurationBank& bank)
{
    makeBinFolder(projectDir);
    checkProjectOutput(projectDir, bankBinaryPath(projectDir));
    checkProjectOutput(projectDir, bankSourcePath(projectDir));
    // A full disk must not leave a new bank1.bin beside an older bankg.c.
    writeFilesAtomically({{bankBinaryPath(projectDir), bankBytes(bank)},
                          {bankSourcePath(projectDir), bankSourceText(bank)}});
}

BankBuild compileAndWriteBank(const AppPaths& paths,
                              const std::function<bool(const CompiledBank&)>& goOn)
{
    BankBuild build;
    build.compiled = CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath);
    if (!goOn(build.compiled))
        return build;
    // A bank file that cannot be written ends the update here: the merge must not go on with
    // an older bank1.bin.
    SaveBankFiles(paths.ProjectDir, build.compiled.value);
    build.written = true;
    return build;
}

} // namespace quillner
