#include "core/production/flash_journal.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace quillner {

namespace {

constexpr FlashRecord::Outcome kOutcomes[] = {
    FlashRecord::Outcome::Flashed, FlashRecord::Outcome::Failed, FlashRecord::Outcome::TimedOut,
    FlashRecord::Outcome::NotBuilt};

// A journal is read whole; a production line writes some hundred bytes a device.
constexpr qint64 kMostJournalBytes = qint64(1) << 30;

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue digestOrNull(const QByteArray& digest)
{
    return textOrNull(QString::fromLatin1(digest));
}

bool syncToDisk(QFile& file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return ::_commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

// A new file's name is on the disk only once its folder is.
void syncFolder(const QString& folder)
{
#ifndef Q_OS_WIN
    const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        ::fsync(descriptor);
        ::close(descriptor);
    }
#else
    Q_UNUSED(folder);
#endif
}

std::optional<FlashRecord> recordOfLine(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue row = object.value(QStringLiteral("row"));
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QString outcomeName = object.value(QStringLiteral("outcome")).toString();
    if (!row.isDouble() || !name.isString())
        return std::nullopt;
    FlashRecord record;
    bool known = false;
    for (const FlashRecord::Outcome outcome : kOutcomes) {
        if (flashOutcomeName(outcome) == outcomeName) {
            record.outcome = outcome;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    record.row = row.toInteger();
    record.name = name.toString();
    record.serial = object.value(QStringLiteral("serial")).toString();
    record.port = object.value(QStringLiteral("port")).toInt(-1);
    record.masterSha256 = object.value(QStringLiteral("masterSha256")).toString().toLatin1();
    record.bankSha256 = object.value(QStringLiteral("bankSha256")).toString().toLatin1();
    record.mergedSha256 = object.value(QStringLiteral("mergedSha256")).toString().toLatin1();
    record.toolVersion = object.value(QStringLiteral("toolVersion")).toString();
    if (const QJsonValue status = object.value(QStringLiteral("exitStatus")); status.isDouble())
        record.exitStatus = status.toInt();
    record.lastLine = object.value(QStringLiteral("lastLine")).toString();
    record.error = object.value(QStringLiteral("error")).toString();
    record.started = QDateTime::fromString(object.value(QStringLiteral("started")).toString(),
                                           Qt::ISODateWithMs);
    record.milliseconds = object.value(QStringLiteral("milliseconds")).toInteger();
    record.station = object.value(QStringLiteral("station")).toString();
    record.table = object.value(QStringLiteral("table")).toString().toLatin1();
    return record;
}

// The journal is the batch's own file: a symbolic link or anything but a regular file in its
// place is refused, and nothing is read or written through it. Empty when it may be used.
QString notTheJournal(const QString& path)
{
    const QFileInfo found(path);
    if (found.isSymLink() || (found.exists() && !found.isFile()))
        return QStringLiteral("%1 is %2, not the batch's journal; nothing is read or written "
                              "through it: remove it, or run the batch into another folder")
            .arg(path, found.isSymLink() ? QStringLiteral("a symbolic link")
                                         : QStringLiteral("no regular file"));
    return {};
}

template <typename T> Result<T> journalFailure(const QString& text)
{
    return Result<T>::failure({Problem{{}, {}, text}});
}

} // namespace

QString flashOutcomeName(FlashRecord::Outcome outcome)
{
    switch (outcome) {
    case FlashRecord::Outcome::Flashed:
        return QStringLiteral("flashed");
    case FlashRecord::Outcome::Failed:
        break;
    case FlashRecord::Outcome::TimedOut:
        return QStringLiteral("timed out");
    case FlashRecord::Outcome::NotBuilt:
        return QStringLiteral("not built");
    }
    return QStringLiteral("failed");
}

QByteArray flashRecordLine(const FlashRecord& record)
{
    QJsonObject object{
        {QStringLiteral("row"), record.row},
        {QStringLiteral("name"), record.name},
        {QStringLiteral("serial"), textOrNull(record.serial)},
        {QStringLiteral("port"),
         record.port < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(record.port)},
        {QStringLiteral("masterSha256"), digestOrNull(record.masterSha256)},
        {QStringLiteral("bankSha256"), digestOrNull(record.bankSha256)},
        {QStringLiteral("mergedSha256"), digestOrNull(record.mergedSha256)},
        {QStringLiteral("toolVersion"), record.toolVersion},
        {QStringLiteral("outcome"), flashOutcomeName(record.outcome)},
        {QStringLiteral("exitStatus"),
         record.exitStatus ? QJsonValue(*record.exitStatus) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("lastLine"), textOrNull(record.lastLine)},
        {QStringLiteral("error"), textOrNull(record.error)},
        {QStringLiteral("started"), record.started.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("milliseconds"), record.milliseconds},
    };
    // Only a station of a line says which it is, so that a station alone writes what it always did.
    if (!record.station.isEmpty())
        object.insert(QStringLiteral("station"), record.station);
    if (!record.table.isEmpty())
        object.insert(QStringLiteral("table"), QString::fromLatin1(record.table));
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

Result<QList<FlashRecord>> readFlashJournal(const QString& path)
{
    if (const QString fault = notTheJournal(path); !fault.isEmpty())
        return journalFailure<QList<FlashRecord>>(fault);
    if (!QFileInfo::exists(path))
        return {};
    QList<QByteArray> lines;
    try {
        lines = readFileBytes(path, FileSize::atMost(kMostJournalBytes)).split('\n');
    } catch (const Error& error) {
        // The system's refusal to read it.
        return journalFailure<QList<FlashRecord>>(error.message());
    }
    // The text after the last line feed is a line that was never finished, or nothing.
    lines.removeLast();
    QList<FlashRecord> records;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const std::optional<FlashRecord> record = recordOfLine(lines[i]);
        if (!record)
            return journalFailure<QList<FlashRecord>>(
                QStringLiteral("%1:%2: not a record of a flashing attempt; the journal was "
                               "changed, so it cannot tell which devices were flashed")
                    .arg(path)
                    .arg(i + 1));
        records.append(*record);
    }
    return {records, {}, {}};
}

FlashJournal::FlashJournal(const QString& path, std::unique_ptr<QFile> file)
    : m_path(path), m_file(std::move(file))
{
}

Result<std::unique_ptr<FlashJournal>> FlashJournal::open(const QString& path)
{
    using Opened = Result<std::unique_ptr<FlashJournal>>;
    const auto refused = [](const QString& text) {
        return Opened::failure({Problem{{}, {}, text}});
    };
    if (const QString fault = notTheJournal(path); !fault.isEmpty())
        return refused(fault);
    const bool existed = QFileInfo::exists(path);
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_UNIX
    // Opened as it was looked at: a link put in its place meanwhile is not followed.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        const QString cause = QString::fromLocal8Bit(std::strerror(errno));
        if (const QString fault = notTheJournal(path); !fault.isEmpty())
            return refused(fault);
        return refused(cannotCreateFileMessage(path, cause));
    }
    if (!file->open(descriptor, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return refused(cannotCreateFileMessage(path, file->errorString()));
    }
    if (const QString fault = notTheJournal(path); !fault.isEmpty())
        return refused(fault);
#else
    if (!file->open(QIODevice::ReadWrite))
        return refused(cannotCreateFileMessage(path, file->errorString()));
#endif
    // Only the end matters: it is cut back to just after the last line feed.
    qint64 end = file->size();
    qint64 keep = end;
    while (keep > 0) {
        const qint64 from = std::max<qint64>(0, keep - 4096);
        file->seek(from);
        const QByteArray block = file->read(keep - from);
        const qsizetype newline = block.lastIndexOf('\n');
        if (keep == end && block.endsWith('\n'))
            break;
        if (newline >= 0) {
            keep = from + newline + 1;
            break;
        }
        keep = from;
    }
    if (keep != end && (!file->resize(keep) || !syncToDisk(*file)))
        return refused(cannotCreateFileMessage(path, file->errorString()));
    if (!file->seek(keep))
        return refused(cannotCreateFileMessage(path, file->errorString()));
    if (!existed)
        syncFolder(QFileInfo(path).absolutePath());
    return {std::unique_ptr<FlashJournal>(new FlashJournal(path, std::move(file))), {}, {}};
}

FlashJournal::~FlashJournal() = default;

Result<Done> FlashJournal::append(const FlashRecord& record)
{
    const QByteArray line = flashRecordLine(record);
    const std::lock_guard lock(m_mutex);
    if (!writeAll(*m_file, line.constData(), line.size()) || !syncToDisk(*m_file))
        return journalFailure<Done>(cannotCreateFileMessage(m_path, m_file->errorString()));
    return {};
}

} // namespace quillner
