#include "core/analysis/recording_test.h"

#include "core/logs/recording.h"

#include "core/app/project_layout.h"
#include "core/device/receive_filter.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

namespace quillner {

namespace {

// Progress is told after this many bytes of lines, and a cancellation looked for as often.
constexpr qint64 kProgressStep = 256 * 1024;

// The filter document written where the compiler finds it, in a folder of its own.
template <typename Filter, typename Save>
CompiledBank compileWithSaved(const QString& pargenPath, const Filter& filter, Save save)
{
    const QTemporaryDir folder;
    if (!folder.isValid())
        return CompiledBank::failure(
            {{{},
              {},
              QStringLiteral("Cannot create a temporary folder: %1").arg(folder.errorString())}});
    const AppPaths paths = projectPaths(folder.path());
    save(std::is_same_v<Filter, Filter20A> ? paths.Filter20APath : paths.Filter20BPath, filter);
    return CompileBank(pargenPath, paths.Filter20APath, paths.Filter20BPath);
}

quint64 namesKey(quint32 id, bool extended)
{
    return quint64(id) | (extended ? quint64(1) << 32 : 0);
}

} // namespace

Result<RecordingTest> testRecording(const ConfigurationBank& bank, const QString& path,
                                    const RecordingProgress& progress, const CancelRequest& cancel)
{
    const FrameFilter filter(bank);
    qint64 total = QFileInfo(path).size();
    RecordingTest test;
    test.name = QFileInfo(path).fileName();
    qint64 done = 0;
    qint64 told = 0;
    // The reader hands over lines without their line ends; one byte each is counted for them.
    const auto advance = [&](qint64 lineBytes) {
        done += lineBytes + 1;
        if (done - told < kProgressStep)
            return;
        told = done;
        test.cancelled = cancel && cancel();
        if (progress && !test.cancelled)
            progress(total > 0 ? std::min(done, total) : done, total);
    };
    LogVisitor visitor;
    visitor.stop = &test.cancelled;
    visitor.frame = [&](const LogFrame& frame) {
        test.tally.add(frame, filter.verdict(frame.busFrame()));
        // A binary recording's frames have no line whose bytes would tell how far it is read.
        if (frame.line.isEmpty())
            total = 0;
        advance(frame.line.size());
    };
    visitor.otherLine = [&](QByteArrayView line) { advance(line.size()); };
    const Result<LogReading> reading = readCanLog(path, visitor);
    if (!reading.whole())
        return Result<RecordingTest>::failure(reading.problems);
    if (test.cancelled)
        return {std::move(test), {}, {}};
    test.tally.addReading(reading.value);
    test.unreadable = reading.value.unreadable;
    if (progress)
        progress(total, total);
    return {std::move(test), {}, {}};
}

CompiledBank compileWithFilter(const QString& pargenPath, const Filter20A& filter)
{
    return compileWithSaved(pargenPath, filter, saveFilter20A);
}

CompiledBank compileWithFilter(const QString& pargenPath, const Filter20B& filter)
{
    return compileWithSaved(pargenPath, filter, saveFilter20B);
}

MessageNames::MessageNames(const QList<DbcMessage>& messages)
{
    for (const DbcMessage& message : messages)
        m_names.insert(namesKey(message.id, message.extended), message.name);
}

QString MessageNames::name(quint32 id, bool extended) const
{
    return m_names.value(namesKey(id, extended));
}

QString IdentifierRow::verdict() const
{
    if (blocked == 0)
        return QStringLiteral("passed");
    if (passed > 0)
        return QStringLiteral("partly passed");
    return wrongForm ? QStringLiteral("blocked (other form)") : QStringLiteral("blocked");
}

QList<IdentifierRow> identifierRows(const FilterTally& tally, const MessageNames& names)
{
    // Read from the JSON of `filter test`, so that the windows and the report show its numbers.
    const QJsonArray identifiers =
        filterTallyJson(tally).value(QStringLiteral("identifiers")).toArray();
    QList<IdentifierRow> rows;
    rows.reserve(identifiers.size());
    for (const QJsonValue& value : identifiers) {
        const QJsonObject entry = value.toObject();
        IdentifierRow row;
        row.id = quint32(entry.value(QStringLiteral("id")).toInteger());
        row.extended = entry.value(QStringLiteral("extended")).toBool();
        row.text = entry.value(QStringLiteral("text")).toString();
        row.passed = quint64(entry.value(QStringLiteral("passed")).toInteger());
        row.blocked = quint64(entry.value(QStringLiteral("blocked")).toInteger());
        row.wrongForm = entry.value(QStringLiteral("wrongForm")).toBool();
        row.messageName = names.name(row.id, row.extended);
        rows.append(row);
    }
    return rows;
}

QString recordingTotalsText(const FilterTally& tally)
{
    return filterTallyText(tally).trimmed().section(u'\n', -1);
}

} // namespace quillner
