#include "core/bank/bank_import.h"

#include "core/app/app_paths.h"
#include "core/app/file_io.h"
#include "core/app/hex_text.h"
#include "core/app/project_layout.h"
#include "core/app/project_output.h"
#include "core/bank/bank_description.h"
#include "core/device/settings.h"
#include "core/filters/mask_pattern.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>

namespace quillner {

namespace {

// The number of entries that gives a bank its entry count: the count byte holds the low 8 bits.
constexpr int kCountWrap = 256;

QString hexWord(quint32 value)
{
    return QStringLiteral("0x") + hex::upperText(value, 8);
}

// An identifier as the strict integer parser reads it back to the same 32 bits.
QString identifierText(quint32 word)
{
    if (word <= 0x7FFFFFFFu)
        return QString::number(word);
    return QStringLiteral("$") + hex::upperText(word, 8);
}

int parityIndex(int code)
{
    return settingCodeOfBankByte(Setting::SerialParity, quint8(code)).value_or(-1);
}

class Importer
{
public:
    explicit Importer(const ConfigurationBank& bank)
        : m_bank(bank), m_description(describeBank(bank))
    {
    }

    BankImport run()
    {
        if (m_description.erased) {
            m_result.obstacles.append(
                {{},
                 {},
                 erasedBankText(1) + QStringLiteral("; the documents are those of a new "
                                                    "project")});
            m_result.project.filter = Filter20A{};
            return std::move(m_result);
        }
        importGeneralParameters();
        if (m_result.project.canTypeB())
            importFilter20B();
        else
            importFilter20A();
        findReservedBytes();
        return std::move(m_result);
    }

private:
    void obstacle(int offset, const QString& setting, const QString& text)
    {
        m_result.obstacles.append({{}, place(offset, setting), text});
    }

    static QString place(int offset, const QString& setting)
    {
        return QStringLiteral("offset %1 (%2)").arg(offset).arg(setting);
    }

    // A byte the windows write as 0 or 1 only; a document holds no other value.
    bool flag(int offset, const QString& setting)
    {
        const int code = m_bank[offset];
        if (code > 1) {
            obstacle(offset, setting,
                     QStringLiteral("code %1 is neither 0 nor 1, which no document gives; the "
                                    "documents give 1")
                         .arg(code));
        }
        markUsed(offset, offset + 1);
        return code != 0;
    }

    void markUsed(int from, int to) { std::fill(m_used.begin() + from, m_used.begin() + to, true); }

    void importGeneralParameters()
    {
        const BankDescription& d = m_description;
        GeneralParameters& parameters = m_result.project.parameters;
        markUsed(kSerialBaudOffset, kRemoteFramesOffset + 1);

        // A baud-rate index outside the list still compiles to its code, so it is kept.
        parameters.Ser_Baud = d.serialBaudCode;
        if (!d.serialBaud) {
            obstacle(kSerialBaudOffset, settingDescription(Setting::SerialBaud),
                     QStringLiteral("unknown baud code %1, which no window writes; the documents "
                                    "keep it (Ser_Baud %1)")
                         .arg(d.serialBaudCode));
        }
        parameters.Ser_Par = std::max(parityIndex(d.parityCode), 0);
        if (parityIndex(d.parityCode) < 0) {
            obstacle(kParityOffset, settingDescription(Setting::SerialParity),
                     QStringLiteral("unknown parity code %1, which no document gives; the "
                                    "documents give None (code 0)")
                         .arg(d.parityCode));
        }
        parameters.canTypeB = flag(kCanTypeOffset, settingDescription(Setting::CanFormat));
        parameters.Can_Baud = d.canBaudCode - 1;
        if (!d.canBaudKbit) {
            obstacle(kCanBaudOffset, settingDescription(Setting::CanBaud),
                     QStringLiteral("unknown baud code %1, which no window writes; the documents "
                                    "keep it (Can_Baud %2)")
                         .arg(d.canBaudCode)
                         .arg(parameters.Can_Baud));
        }
        parameters.Can_Enable_RTR = flag(kRemoteFramesOffset, settingDescription(Setting::CanRtr));
    }

    void importFilter20A()
    {
        Filter20A filter;
        for (int id = 0; id < kStandardIdCount; ++id)
            filter.IdVisible[id] = identifierVisible(m_bank, id) ? 1 : 0;
        markUsed(kFilterAreaOffset, kFilterAreaOffset + kBitmapBytes);
        m_result.project.filter = filter;
    }

    // The number of entries that compiles to the bank's entry count and present byte: a count
    // of 0 with entries present is what a multiple of 256 entries gives.
    int documentEntryCount(bool present, int count)
    {
        if (!present && count > 0) {
            obstacle(kFilterPresentOffset, QStringLiteral("filter present"),
                     QStringLiteral("%1 entries counted but not marked as present, which only a "
                                    "filter document that cannot be read gives; the documents "
                                    "give them marked present (1)")
                         .arg(count));
        }
        return present && count == 0 ? kCountWrap : count;
    }

    void importFilter20B()
    {
        Filter20B filter;
        const BankFilterHeader header = readBankFilterHeader(m_bank);
        const int mode = header.mode;
        markUsed(kFilterModeOffset, kFilterModeOffset + 1);
        if (mode > 1) {
            obstacle(kFilterModeOffset, QStringLiteral("filter mode"),
                     QStringLiteral("code %1, which no document gives; the documents give 0 "
                                    "(mask patterns)")
                         .arg(mode));
        }
        filter.cobIdFilter = mode == 1;
        const bool present = flag(kFilterPresentOffset, QStringLiteral("filter present"));
        const int count = header.entryCount;
        markUsed(kEntryCountOffset, kEntryCountOffset + 1);
        const int entries = documentEntryCount(present, count);

        if (filter.cobIdFilter) {
            filter.typePositive = flag(kListFunctionOffset, QStringLiteral("list function"));
            const int stored = std::min(count, kFilterWordCount);
            for (int i = 0; i < stored; ++i)
                filter.cobIds.append(identifier(i));
            placeholders(filter.cobIds, entries, stored, QStringLiteral("0"), kFilterWordCount,
                         QStringLiteral("identifiers"));
            markUsed(kFilterAreaOffset, filterWordOffset(stored));
        } else {
            if (header.listFunction != 0) {
                obstacle(kListFunctionOffset, QStringLiteral("list function"),
                         QStringLiteral("code %1 with mask patterns, which no document gives; "
                                        "the documents give 0")
                             .arg(header.listFunction));
            }
            markUsed(kListFunctionOffset, kListFunctionOffset + 1);
            const int stored = std::min(count, kMaxPatterns);
            for (int k = 0; k < stored; ++k)
                filter.patterns.append(pattern(k));
            placeholders(filter.patterns, entries, stored, QString(kPatternLength, u'0'),
                         kMaxPatterns, QStringLiteral("patterns"));
            markUsed(kFilterAreaOffset, filterWordOffset(2 * stored));
        }
        m_result.project.filter = filter;
    }

    QString identifier(int index)
    {
        const quint32 word = filterWord(m_bank, index);
        if (word > kPatternBits) {
            obstacle(filterWordOffset(index), QStringLiteral("identifier %1").arg(index + 1),
                     QStringLiteral("%1 has more than 29 bits, which no window writes; the "
                                    "documents keep it")
                         .arg(hexWord(word)));
        }
        return identifierText(word);
    }

    // A pattern stores a bit of its second value only where its first value has it, within 29
    // bits; other pairs are kept as near as a pattern comes.
    QString pattern(int index)
    {
        const StoredPattern pair = storedPattern(m_bank, index);
        const QString text = BitsToPattern(pair.nonZeroBits, pair.oneBits);
        if (!isPatternPair(pair)) {
            obstacle(filterWordOffset(2 * index), QStringLiteral("pattern %1").arg(index + 1),
                     QStringLiteral("the values %1 and %2 are no pattern's; the documents give %3")
                         .arg(hexWord(pair.nonZeroBits), hexWord(pair.oneBits), text));
        }
        return text;
    }

    // Entries the bank counts but does not hold: the device reads only the first ones, so the
    // rest are written as placeholders for the count to come out the same.
    void placeholders(QStringList& list, int entries, int stored, const QString& placeholder,
                      int most, const QString& what)
    {
        if (entries <= stored)
            return;
        while (list.size() < entries)
            list.append(placeholder);
        const QString counted =
            entries == kCountWrap
                ? QStringLiteral("an entry count of 0 with entries present is what %1 %2 give")
                      .arg(entries)
                      .arg(what)
                : QStringLiteral("the bank counts %1 %2").arg(entries).arg(what);
        m_result.notes.append(
            {{},
             place(kEntryCountOffset, QStringLiteral("filter entries")),
             QStringLiteral("%1, the device reads at most %2 and the bank holds %3; the "
                            "documents give the other %4 as %5")
                 .arg(counted)
                 .arg(most)
                 .arg(stored)
                 .arg(entries - stored)
                 .arg(placeholder)});
    }

    // Bytes that no compile of these settings writes must be zero; each run of others is told.
    void findReservedBytes()
    {
        for (int offset = 0; offset < kBankSize; ++offset) {
            if (m_used[size_t(offset)] || m_bank[size_t(offset)] == 0)
                continue;
            int last = offset;
            while (last + 1 < kBankSize && !m_used[size_t(last + 1)] &&
                   m_bank[size_t(last + 1)] != 0)
                ++last;
            const QString bytes = last == offset
                                      ? QStringLiteral("byte %1 is").arg(offset)
                                      : QStringLiteral("bytes %1 to %2 are").arg(offset).arg(last);
            obstacle(offset, QStringLiteral("reserved"),
                     QStringLiteral("%1 not zero, which no compile writes; the documents give "
                                    "zeros")
                         .arg(bytes));
            offset = last;
        }
    }

    const ConfigurationBank& m_bank;
    BankDescription m_description;
    std::array<bool, kBankSize> m_used{};
    BankImport m_result;
};

} // namespace

BankImport importBank(const ConfigurationBank& bank)
{
    return Importer(bank).run();
}

QStringList projectDocumentNames()
{
    AppPaths paths;
    SetDocumentPaths(paths);
    QStringList names;
    for (const QString& path :
         {paths.PargenPath, paths.Filter20APath, paths.Filter20BPath, paths.VarPath})
        names.append(QFileInfo(path).fileName());
    return names;
}

QStringList projectDocumentsIn(const QString& folder)
{
    QStringList found;
    for (const QString& name : projectDocumentNames()) {
        const QFileInfo info(joinPath(folder, name));
        if (info.exists() || info.isSymLink())
            found.append(name);
    }
    return found;
}

Result<QStringList> writeImportedProject(const QString& folder, const ImportedProject& project)
{
    return writeImportedProject(ProjectEdit(folder), project);
}

namespace {

Result<QStringList> notWritten(const QString& text)
{
    return Result<QStringList>::failure({{{}, {}, text}});
}

} // namespace

Result<QStringList> writeImportedProject(const ProjectEdit& edit, const ImportedProject& project)
{
    const QString& folder = edit.projectDir();
    const QFileInfo folderInfo(folder);
    if (folderInfo.exists() && !folderInfo.isDir())
        return notWritten(
            QStringLiteral("\"%1\" is not a folder").arg(QDir::toNativeSeparators(folder)));
    if (!folderInfo.exists() && !QDir().mkpath(folder))
        return notWritten(
            QStringLiteral("Cannot create folder \"%1\"").arg(QDir::toNativeSeparators(folder)));
    const QString bin = ProjectLayout::of(folder).binFolder;
    const QFileInfo binInfo(bin);
    if (!binInfo.exists() && !binInfo.isSymLink() && !QDir().mkdir(bin))
        return notWritten(
            QStringLiteral("Cannot create folder \"%1\"").arg(QDir::toNativeSeparators(bin)));

    AppPaths paths;
    paths.ProjectDir = folder;
    SetDocumentPaths(paths);
    const QString& pargen = paths.PargenPath;
    const QString& filter = project.canTypeB() ? paths.Filter20BPath : paths.Filter20APath;
    const QString& var = paths.VarPath;
    const QStringList written{pargen, filter, var};
    for (const QString& path : written)
        checkProjectOutput(folder, path);

    // The import replaces the documents whole: the caller has checked that the folder holds
    // none, or was told to replace them.
    edit.write(pargen, generalParametersDocument(), generalParameterTexts(project.parameters));
    if (const auto* filter20B = std::get_if<Filter20B>(&project.filter))
        edit.write(filter, filter20BDocument(), *filter20B);
    else
        edit.write(filter, filter20ADocument(), std::get<Filter20A>(project.filter));
    saveTranslateTable(var);
    return {written, {}, {}};
}

Result<std::optional<int>> firstRebuildDifference(const ImportedProject& project,
                                                  const ConfigurationBank& bank)
{
    using Difference = Result<std::optional<int>>;
    const QTemporaryDir dir;
    if (!dir.isValid())
        return Difference::failure(
            {{{},
              {},
              QStringLiteral("Cannot create a temporary folder: %1").arg(dir.errorString())}});
    AppPaths paths;
    paths.ProjectDir = dir.path();
    SetDocumentPaths(paths);
    const Result<QStringList> written = writeImportedProject(paths.ProjectDir, project);
    if (!written.whole())
        return Difference::failure(written.problems);
    const ConfigurationBank rebuilt =
        CompileBank(paths.PargenPath, paths.Filter20APath, paths.Filter20BPath).value;
    const auto mismatch = std::mismatch(rebuilt.begin(), rebuilt.end(), bank.begin());
    if (mismatch.first == rebuilt.end())
        return {};
    return {int(mismatch.first - rebuilt.begin()), {}, {}};
}

} // namespace quillner
