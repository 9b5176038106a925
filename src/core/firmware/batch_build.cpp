#include "core/firmware/batch_build.h"

#include "core/app/app_paths.h"
#include "core/app/error.h"
#include "core/app/file_io.h"
#include "core/device/settings.h"
#include "core/documents/general_parameters.h"
#include "core/documents/new_project.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_edits.h"
#include "core/filters/identifier_set.h"
#include "core/firmware/bank_compiler.h"
#include "core/firmware/bank_files.h"
#include "core/firmware/bank_import.h"
#include "core/firmware/build_manifest.h"
#include "core/firmware/device_update.h"
#include "core/firmware/firmware_job.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <optional>
#include <vector>

namespace quillner {

namespace {

const QString kNameColumn = QStringLiteral("name");
const QString kShowColumn = QStringLiteral("filter.show");
const QString kHideColumn = QStringLiteral("filter.hide");
const QString kListColumn = QStringLiteral("filter.list");
const QString kNegativeColumn = QStringLiteral("filter.negative");
const QString kPatternsColumn = QStringLiteral("filter.patterns");

QString cellPlace(const BatchTable& table, qint64 line, qsizetype column)
{
    return QStringLiteral("%1:%2:%3").arg(table.displayName).arg(line).arg(column + 1);
}

// Why a project name cannot be the name of one folder below the output folder; empty when it can.
QString folderNameFault(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("a project needs a name");
    if (name == QStringLiteral(".") || name == QStringLiteral(".."))
        return QStringLiteral("'%1' is no folder name").arg(name);
    if (name.trimmed() != name)
        return QStringLiteral("'%1' begins or ends with a blank").arg(name);
    // Hidden folders beside the projects are where rows are built.
    if (name.startsWith(u'.'))
        return QStringLiteral("'%1' begins with a dot").arg(name);
    for (const QChar c : name) {
        if (isSeparator(c))
            return QStringLiteral("'%1' holds a folder separator; a project is one folder")
                .arg(name);
        // Characters that some file systems refuse in a name.
        if (c.unicode() < 32 || QStringView(u"<>:\"|?*").contains(c))
            return QStringLiteral("'%1' holds '%2', which a folder name cannot hold")
                .arg(name, c.unicode() < 32
                               ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                               : QString(c));
    }
    return {};
}

// What one row asks for, read before anything of it is written.
struct RowRequest
{
    QString name;
    GeneralParameters parameters;
    std::optional<Filter20A> filter20A;
    std::optional<Filter20B> filter20B;
};

class RowReader
{
public:
    RowReader(const BatchTable& table, const CsvRecord& record, BatchRowResult& result)
        : m_table(table), m_record(record), m_result(result)
    {
    }

    // Reads the row's cells; false when the row fails, its failures told.
    bool read(RowRequest& request)
    {
        // Settings first, so that the filters know the frame format the row chose.
        for (qsizetype c = 0; c < m_table.columns.size(); ++c) {
            const QString value = cell(c);
            if (value.isEmpty())
                continue;
            if (const std::optional<Setting> setting = settingNamed(m_table.columns[c])) {
                attempt(c, [&] {
                    setSettingCode(request.parameters, *setting,
                                   settingCodeOfValue(*setting, value));
                });
            }
        }
        if (!m_result.failures.isEmpty())
            return false;
        const bool typeB = request.parameters.canTypeB;
        const QString format = typeB ? QStringLiteral("2.0B") : QStringLiteral("2.0A");
        qsizetype listColumn = -1;
        for (qsizetype c = 0; c < m_table.columns.size(); ++c) {
            const QString& column = m_table.columns[c];
            const QString value = cell(c);
            if (value.isEmpty() || !column.startsWith(QStringLiteral("filter.")))
                continue;
            const bool forA = column == kShowColumn || column == kHideColumn;
            if (forA == typeB) {
                fail(c, QStringLiteral("%1 applies to a CAN %2 project; this one is CAN %3")
                            .arg(column, forA ? QStringLiteral("2.0A") : QStringLiteral("2.0B"),
                                 format));
                continue;
            }
            if (forA) {
                if (!request.filter20A)
                    request.filter20A = Filter20A{};
                attempt(c, [&] {
                    setVisibility(*request.filter20A, parseIdSet(value, IdWidth::Standard),
                                  column == kShowColumn);
                });
                continue;
            }
            // The 2.0B filter is one list: identifiers, positive or negative, or patterns.
            if (listColumn >= 0) {
                fail(c, QStringLiteral("%1 and %2 exclude each other: the 2.0B filter is one list")
                            .arg(m_table.columns[listColumn], column));
                continue;
            }
            listColumn = c;
            request.filter20B = Filter20B{};
            attempt(c, [&] {
                if (column == kPatternsColumn)
                    setPatternList(*request.filter20B, value);
                else
                    setCobIdList(*request.filter20B, value, column == kListColumn);
            });
        }
        return m_result.failures.isEmpty();
    }

private:
    QString cell(qsizetype column) const { return m_record.fields.value(column).trimmed(); }

    void fail(qsizetype column, const QString& text)
    {
        m_result.failures.append(cellPlace(m_table, m_record.line, column) + QStringLiteral(": ") +
                                 text);
    }

    template <typename Step> void attempt(qsizetype column, Step step)
    {
        try {
            step();
        } catch (const Error& error) {
            const QString& key = m_table.columns[column];
            // The settings' own messages begin with the setting's name already.
            const QString text = error.message().startsWith(key + u':')
                                     ? error.message()
                                     : key + QStringLiteral(": ") + error.message();
            fail(column, text);
        }
    }

    const BatchTable& m_table;
    const CsvRecord& m_record;
    BatchRowResult& m_result;
};

constexpr QFileDevice::Permissions kFolderPermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
    QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

// Whether the folder holds nothing but what a batch row writes: a batch may then replace it,
// and no file of the user's is lost with it.
bool holdsOnlyBatchOutputs(const QString& folder, const QString& mergedName)
{
    const QStringList projectFiles =
        projectDocumentNames() +
        QStringList{mergedName, QString::fromLatin1(kBuildManifestName), QStringLiteral("bin")};
    const QStringList binFiles{QFileInfo(bankBinaryPath(folder)).fileName(),
                               QFileInfo(bankSourcePath(folder)).fileName()};
    const auto only = [](const QString& path, const QStringList& allowed) {
        const QFileInfoList entries = QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                               QDir::System | QDir::NoDotAndDotDot);
        return std::all_of(entries.cbegin(), entries.cend(), [&](const QFileInfo& entry) {
            return !entry.isSymLink() && allowed.contains(entry.fileName()) &&
                   (entry.fileName() == QLatin1StringView("bin")) == entry.isDir();
        });
    };
    return QFileInfo::exists(joinPath(folder, QStringLiteral("pargen.xml"))) &&
           only(folder, projectFiles) && only(joinPath(folder, QStringLiteral("bin")), binFiles);
}

// The row's project, built in a hidden folder that takes its name once complete.
void buildProject(const RowRequest& request, const BatchOptions& options, BatchRowResult& result)
{
    const QString target = joinPath(options.outFolder, request.name);
    const QFileInfo existing(target);
    const bool replaces = existing.exists() || existing.isSymLink();
    const QString mergedName = newFirmwareName(QFileInfo(options.master->path).fileName());
    if (replaces &&
        (existing.isSymLink() || !existing.isDir() || !holdsOnlyBatchOutputs(target, mergedName)))
        throw Error(QStringLiteral("%1 exists and holds more than a batch project; it is left as "
                                   "it is")
                        .arg(target));

    QTemporaryDir staging(
        joinPath(options.outFolder, u'.' + request.name + QStringLiteral(".XXXXXX")));
    if (!staging.isValid())
        throw Error(cannotCreateFileMessage(target, staging.errorString()));
    const QString folder = QDir::toNativeSeparators(staging.path());
    QFile::setPermissions(folder, kFolderPermissions);
    const AppPaths paths = projectPaths(folder);
    const QString binFolder = joinPath(folder, QStringLiteral("bin"));
    if (!QDir().mkdir(binFolder))
        throw Error(cannotCreateFileMessage(binFolder, QStringLiteral("cannot make the folder")));

    // The project as "New project" makes it, then the row's settings, as "set" writes them.
    writeNewProjectDocuments(paths);
    {
        const ProjectEdit edit(folder);
        edit.write(paths.PargenPath, generalParametersDocument(),
                   generalParameterTexts(request.parameters));
        if (request.filter20A)
            edit.write(paths.Filter20APath, filter20ADocument(), *request.filter20A);
        if (request.filter20B)
            edit.write(paths.Filter20BPath, filter20BDocument(), *request.filter20B);
    }

    const BankBuild build = compileAndWriteBank(paths, [](const CompiledBank& compiled) {
        if (!bankMayGoOn(compiled, false))
            throw Error(problemLines(compiled.problems).join(QStringLiteral("; ")));
        return true;
    });
    result.warnings = problemLines(build.compiled.warnings);

    FirmwareJob job;
    job.firmwarePath = options.master->path;
    job.firmwareName = QFileInfo(job.firmwarePath).fileName();
    job.binFolder = binFolder + QDir::separator();
    job.outputFolder = folder + QDir::separator();
    job.newFileName = newFirmwareName(job.firmwareName);
    job.masterDir = QFileInfo(job.firmwarePath).absolutePath();
    job.master = options.master;
    const MergeResult merged = job.merge();
    if (!merged.copyCompleted)
        throw Error(merged.message.isEmpty() ? mergedFileNotFoundMessage() : merged.message);
    if (!merged.bankInserted)
        throw Error(bankNotInFirmwareMessage(job.bank, job.firmwareName));
    if (!merged.verified)
        throw Error(notVerifiedMessage());
    result.summary = mergeSummary(job.newFileName, job.bank, merged);

    // An older project of this name goes aside first and is removed once the new one is in place.
    std::optional<QTemporaryDir> older;
    if (replaces) {
        older.emplace(joinPath(options.outFolder, u'.' + request.name + QStringLiteral(".XXXXXX")));
        if (!older->isValid() || !QDir().rename(target, older->filePath(request.name)))
            throw Error(cannotCreateFileMessage(target, QStringLiteral("the older project folder "
                                                                       "cannot be moved aside")));
    }
    if (!QDir().rename(folder, target)) {
        if (older)
            QDir().rename(older->filePath(request.name), target);
        throw Error(
            cannotCreateFileMessage(target, QStringLiteral("cannot rename %1").arg(folder)));
    }
    staging.setAutoRemove(false);
    result.folder = target;
}

BatchRowResult buildRow(const BatchTable& table, const CsvRecord& record,
                        const BatchOptions& options)
{
    BatchRowResult result;
    result.line = record.line;
    result.name = record.fields.value(table.columns.indexOf(kNameColumn)).trimmed();
    RowRequest request;
    request.name = result.name;
    if (!RowReader(table, record, result).read(request))
        return result;
    try {
        buildProject(request, options, result);
    } catch (const Error& error) {
        result.failures.append(QStringLiteral("%1:%2: %3: %4")
                                   .arg(table.displayName)
                                   .arg(record.line)
                                   .arg(result.name, error.message()));
    } catch (const std::exception& error) {
        result.failures.append(QStringLiteral("%1:%2: %3: %4")
                                   .arg(table.displayName)
                                   .arg(record.line)
                                   .arg(result.name, QString::fromLocal8Bit(error.what())));
    }
    if (!result.built())
        result.warnings.clear();
    return result;
}

// The failures a row meets before its cells are read: its shape and its name.
QStringList rowShapeFailures(const BatchTable& table, const CsvRecord& record,
                             const QHash<QString, int>& nameCounts)
{
    const QString line = QStringLiteral("%1:%2").arg(table.displayName).arg(record.line);
    if (!record.fault.isEmpty())
        return {QStringLiteral("%1:%2: %3").arg(line).arg(record.faultColumn).arg(record.fault)};
    if (record.fields.size() != table.columns.size())
        return {QStringLiteral("%1: %2 fields; the header has %3")
                    .arg(line)
                    .arg(record.fields.size())
                    .arg(table.columns.size())};
    const qsizetype column = table.columns.indexOf(kNameColumn);
    const QString name = record.fields[column].trimmed();
    const QString where = cellPlace(table, record.line, column) + QStringLiteral(": name: ");
    if (const QString fault = folderNameFault(name); !fault.isEmpty())
        return {where + fault};
    if (nameCounts.value(name.toCaseFolded()) > 1)
        return {where + QStringLiteral("'%1' names more than one row; each project needs a "
                                       "name of its own (letter case aside)")
                            .arg(name)};
    return {};
}

} // namespace

QStringList batchColumnNames()
{
    QStringList names{kNameColumn};
    for (const Setting setting : allSettings())
        names.append(settingName(setting));
    names << kShowColumn << kHideColumn << kListColumn << kNegativeColumn << kPatternsColumn;
    return names;
}

BatchTable readBatchTable(const QString& path, const QString& displayName)
{
    QFile file(toNativeSeparators(path));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));

    BatchTable table;
    table.displayName = displayName;
    table.rows = readCsvRecords(text);
    if (table.rows.isEmpty())
        throw Error(QStringLiteral("%1: no header row; the first row names the columns, among "
                                   "them name")
                        .arg(displayName));
    const CsvRecord header = table.rows.takeFirst();
    if (!header.fault.isEmpty())
        throw Error(QStringLiteral("%1:%2:%3: %4")
                        .arg(displayName)
                        .arg(header.line)
                        .arg(header.faultColumn)
                        .arg(header.fault));
    const QStringList known = batchColumnNames();
    for (qsizetype c = 0; c < header.fields.size(); ++c) {
        const QString column = header.fields[c].trimmed().toLower();
        const QString place =
            QStringLiteral("%1:%2:%3").arg(displayName).arg(header.line).arg(c + 1);
        if (!known.contains(column))
            throw Error(QStringLiteral("%1: unknown column '%2'; the columns are %3")
                            .arg(place, header.fields[c], known.join(QStringLiteral(", "))));
        if (table.columns.contains(column))
            throw Error(QStringLiteral("%1: column %2 is there twice").arg(place, column));
        table.columns.append(column);
    }
    if (!table.columns.contains(kNameColumn))
        throw Error(QStringLiteral("%1:%2: no name column; each row names its project folder")
                        .arg(displayName)
                        .arg(header.line));
    return table;
}

QList<BatchRowResult> buildBatch(const BatchTable& table, const BatchOptions& options)
{
    if (!options.master)
        throw Error(QStringLiteral("No firmware to merge the banks into"));
    if (!QDir().mkpath(options.outFolder))
        throw Error(
            cannotCreateFileMessage(options.outFolder, QStringLiteral("cannot make the folder")));

    QHash<QString, int> nameCounts;
    const qsizetype nameColumn = table.columns.indexOf(kNameColumn);
    for (const CsvRecord& record : table.rows) {
        if (record.fault.isEmpty() && record.fields.size() == table.columns.size())
            ++nameCounts[record.fields[nameColumn].trimmed().toCaseFolded()];
    }

    // Each row has its own slot, written by the one thread that builds it.
    std::vector<BatchRowResult> results(size_t(table.rows.size()));
    QThreadPool pool;
    pool.setMaxThreadCount(options.jobs > 0 ? options.jobs : QThread::idealThreadCount());
    for (qsizetype i = 0; i < table.rows.size(); ++i) {
        const CsvRecord& record = table.rows[i];
        BatchRowResult& result = results[size_t(i)];
        result.line = record.line;
        result.failures = rowShapeFailures(table, record, nameCounts);
        if (!result.failures.isEmpty()) {
            result.name = record.fields.value(nameColumn).trimmed();
            continue;
        }
        pool.start(
            [&table, &record, &options, &result] { result = buildRow(table, record, options); });
    }
    pool.waitForDone();
    return QList<BatchRowResult>(results.begin(), results.end());
}

} // namespace quillner
