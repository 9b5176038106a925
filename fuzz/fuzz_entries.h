#pragma once

// What each fuzz target does with one input. The libFuzzer executables (fuzz_*.cpp) and the
// replay of fuzz/regressions and fuzz/corpus in the ordinary tests
// (tests/core/tst_fuzz_regressions.cpp) call the same functions, so that a finding, once fixed,
// stays fixed in every build. Failures the core reports with its error type are expected
// answers to hostile input; a crash, a sanitizer report, another exception or a broken promise
// (a record that does not read back as written) is a finding.

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/app/profile_file.h"
#include "core/bank/bank_compiler.h"
#include "core/bank/bank_decode.h"
#include "core/bank/bank_description.h"
#include "core/bank/bank_import.h"
#include "core/bank/canonical_text.h"
#include "core/bank/configuration_description.h"
#include "core/device/bank_records.h"
#include "core/device/srec_record.h"
#include "core/documents/general_parameters.h"
#include "core/filters/dbc_reader.h"
#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_entries.h"
#include "core/firmware/firmware_verify.h"
#include "core/firmware/srec_merge.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recording.h"
#include "core/production/batch_build.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace quillner::fuzzing {

// A broken promise: said on standard error, then the process aborts, which libFuzzer and
// QtTest both report with the input.
inline void require(bool holds, const char* what)
{
    if (holds)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The folder of this process for the files the readers read, made on first use (in /dev/shm
// when there is one, so that a file per input costs no disk).
inline QString scratchFolder()
{
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm")
                                 : QDir::tempPath();
        auto made = std::make_unique<QTemporaryDir>(base + QStringLiteral("/quillner-fuzz-XXXXXX"));
        require(made->isValid(), "the scratch folder can be made");
        return made;
    }();
    return folder->path();
}

inline QString scratchPath(const QString& name)
{
    return scratchFolder() + u'/' + name;
}

// Writes the bytes to name in the scratch folder, or removes the file for a null array (a
// document that does not exist).
inline QString putScratchFile(const QString& name, const QByteArray& bytes)
{
    const QString path = scratchPath(name);
    QFile::remove(path);
    if (bytes.isNull())
        return path;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
            "the scratch file can be written");
    return path;
}

// The integer syntax: the three readers agree, and a parsed value prints back to itself.
inline void fuzzIntParse(const QByteArray& input)
{
    const QString text = QString::fromUtf8(input);
    const std::optional<qint32> parsed = tryParseInt(text);
    require(parseIntLenient(text, 7) == parsed.value_or(7),
            "the lenient reading agrees with tryParseInt");
    try {
        const qint32 strict = parseIntStrict(text);
        require(parsed && strict == *parsed, "the strict reading agrees with tryParseInt");
    } catch (const Error&) {
        require(!parsed, "the strict reading refuses only what tryParseInt refuses");
    }
    if (parsed)
        require(tryParseInt(QString::number(*parsed)) == parsed,
                "a value reads back from its decimal text");
}

inline void fuzzGeneralParameters(const QByteArray& input)
{
    const QString path = putScratchFile(QStringLiteral("pargen.xml"), input);
    try {
        loadGeneralParameters(path);
    } catch (const Error&) {
    }
    try {
        readFrameFormat(path);
    } catch (const Error&) {
    }
}

inline void fuzzFilter20A(const QByteArray& input)
{
    loadFilter20A(putScratchFile(QStringLiteral("Filter20A.xml"), input));
}

inline void fuzzFilter20B(const QByteArray& input)
{
    const QString path = putScratchFile(QStringLiteral("Filter20B.xml"), input);
    loadFilter20B(path);
    Filter20B negativeMasks;
    negativeMasks.cobIdFilter = false;
    negativeMasks.typePositive = false;
    loadFilter20B(path, negativeMasks);
}

// The input holds the three documents, pargen.xml, Filter20A.xml and Filter20B.xml, parted by a
// NUL byte (which no XML document holds); a document not given does not exist. The bank is
// described afterwards, as "show" does.
inline void fuzzBankCompiler(const QByteArray& input)
{
    const QList<QByteArray> parts = input.split('\0');
    const auto part = [&](int i) { return i < parts.size() ? parts[i] : QByteArray(); };
    const CompiledBank compiled =
        CompileBank(putScratchFile(QStringLiteral("pargen.xml"), part(0)),
                    putScratchFile(QStringLiteral("Filter20A.xml"), part(1)),
                    putScratchFile(QStringLiteral("Filter20B.xml"), part(2)));
    const BankDescription description = describeBank(compiled.value);
    bankDescriptionText(description);
    const ConfigurationDescription configuration =
        describeCompiledProject(QStringLiteral("project"), compiled);
    configurationDescriptionText(configuration);
    configurationDescriptionJson(configuration);
}

// The settings file: any content reads, and a value written reads back as written.
inline void fuzzProfileFile(const QByteArray& input)
{
    const QString path = putScratchFile(QStringLiteral("Quillner.ini"), input);
    readProfileString(path, QStringLiteral("lastproj"), QStringLiteral("projectname"));
    const QString value = QStringLiteral("Line 2");
    writeProfileString(path, QStringLiteral("lastproj"), QStringLiteral("projectname"), value);
    require(readProfileString(path, QStringLiteral("lastproj"), QStringLiteral("projectname")) ==
                value,
            "a written value reads back");
}

// One record line: a good record formats back to a record that reads the same.
inline void fuzzSRecord(const QByteArray& input)
{
    sRecordLineAddress(input.constData(), input.size());
    const Result<SRecord> parsed = parseSRecord(input);
    if (!parsed.whole() || parsed.value.data.size() > 250)
        return;
    const SRecord& record = parsed.value;
    const QByteArray again = formatSRecord(record.type, record.address, record.data);
    const Result<SRecord> reread = parseSRecord(again);
    require(reread.whole(), "a formatted record reads");
    require(reread.value.type == record.type && reread.value.address == record.address &&
                reread.value.data == record.data,
            "a formatted record reads back as written");
}

// The merge of a fixed bank into the input as firmware.
// A bank of varied bytes, for the merge and the verifier.
// The same bank as the device holds it.
inline const ConfigurationBank& fuzzConfigurationBank()
{
    static const ConfigurationBank bank = [] {
        ConfigurationBank bytes{};
        for (int i = 0; i < kBankSize; ++i)
            bytes[size_t(i)] = quint8(i * 7 + 3);
        return bytes;
    }();
    return bank;
}

inline const QByteArray& fuzzBank()
{
    static const QByteArray bank = [] {
        QByteArray bytes(kBankSize, '\0');
        for (int i = 0; i < kBankSize; ++i)
            bytes[i] = char(i * 7 + 3);
        return bytes;
    }();
    return bank;
}

inline void fuzzMerge(const QByteArray& input)
{
    const QByteArray& bank = fuzzBank();
    MergeRequest request;
    request.bank = 1;
    request.firmwarePath = putScratchFile(QStringLiteral("MASTER/SX51804.sx"), input);
    request.binFolder =
        QFileInfo(putScratchFile(QStringLiteral("project/bin/bank1.bin"), bank)).absolutePath();
    request.outputFolder = QFileInfo(request.binFolder).absolutePath();
    request.newFileName = QStringLiteral("New_SX51804.sx");
    try {
        const MergeResult result = MergeBankSx(request);
        if (result.value.copyCompleted)
            require(QFileInfo::exists(request.outputFolder + u'/' + request.newFileName),
                    "a completed merge leaves its file");
    } catch (const Error&) {
    }
}

// The verifier, on a merged firmware and its master: the input up to its first NUL byte and
// the rest (the same text twice without one). A report holds its first problem, and a count
// above one is told in a second line.
inline void fuzzVerify(const QByteArray& input)
{
    const qsizetype split = input.indexOf('\0');
    QByteArray merged = split < 0 ? input : input.first(split);
    QByteArray master = split < 0 ? input : input.sliced(split + 1);
    QBuffer mergedDevice(&merged);
    QBuffer masterDevice(&master);
    require(mergedDevice.open(QIODevice::ReadOnly) && masterDevice.open(QIODevice::ReadOnly),
            "the buffers open");
    try {
        const FirmwareVerification found =
            verifyMergedFirmware(mergedDevice, masterDevice, fuzzConfigurationBank(), 1,
                                 {QStringLiteral("New_SX51804.sx"), QStringLiteral("SX51804.sx")});
        require(found.holds() == found.report.isEmpty(), "a report exactly when it fails");
        require(found.report.size() == (found.problemCount > 1 ? 2 : found.problemCount),
                "the first problem, then how many more");
    } catch (const Error&) {
    }
}

// The one S-record reader on a whole file, and the commands that read with it: a file the reader
// refuses is refused by the decoder with the reader's words (or for two records that disagree
// before that line), fails the check of a merged file, and gives no merged firmware that holds
// the bank; a file it reads whole reads back the same once every record is formatted anew.
inline void fuzzSRecordReader(const QByteArray& input)
{
    QByteArray bytes = input;
    QBuffer device(&bytes);
    require(device.open(QIODevice::ReadOnly), "the buffer opens");
    SRecordReader reader(device);
    QByteArray formatted;
    qint64 records = 0;
    bool formattable = true;
    while (reader.next()) {
        const SRecordView& record = reader.record();
        ++records;
        formattable = formattable && record.dataSize <= 250;
        if (formattable)
            formatted += formatSRecord(record.type, record.address,
                                       QByteArrayView(record.data(), record.dataSize)) +
                         "\r\n";
    }

    const QString path = putScratchFile(QStringLiteral("reader/SX51804.sx"), input);
    QString decodeError;
    try {
        decodeError = problemLines(readBankFromSRecords(path).problems).join(u'\n');
    } catch (const Error& error) {
        decodeError = error.message();
    }
    QByteArray merged = input;
    QByteArray master = input;
    QBuffer mergedDevice(&merged);
    QBuffer masterDevice(&master);
    require(mergedDevice.open(QIODevice::ReadOnly) && masterDevice.open(QIODevice::ReadOnly),
            "the buffers open");
    const FirmwareVerification verification =
        verifyMergedFirmware(mergedDevice, masterDevice, fuzzConfigurationBank(), 1,
                             {QStringLiteral("New_SX51804.sx"), QStringLiteral("SX51804.sx")});

    if (reader.failed()) {
        require(decodeError == reader.fault(path).toString() ||
                    decodeError.contains(QStringLiteral(", which line ")),
                "the decoder refuses what the reader refuses, in its words");
        require(!verification.holds(), "the check refuses what the reader refuses");
        MergeRequest request;
        request.firmwarePath = path;
        request.binFolder =
            QFileInfo(putScratchFile(QStringLiteral("reader/project/bin/bank1.bin"), fuzzBank()))
                .absolutePath();
        request.outputFolder = QFileInfo(request.binFolder).absolutePath();
        request.newFileName = QStringLiteral("New_SX51804.sx");
        request.verify = true;
        try {
            const MergeResult result = MergeBankSx(request);
            require(!(result.value.copyCompleted && result.value.bankInserted),
                    "no merged firmware holding the bank comes from what the reader refuses");
        } catch (const Error&) {
        }
        return;
    }
    if (!formattable)
        return;
    QBuffer again(&formatted);
    require(again.open(QIODevice::ReadOnly), "the buffer opens");
    SRecordReader rereader(again);
    qint64 reread = 0;
    while (rereader.next())
        ++reread;
    require(!rereader.failed() && reread == records, "formatted records read back");
}

// The decoder, on the input as a bank image or an S-record firmware, then its description.
inline void fuzzDecode(const QByteArray& input)
{
    const QString path = putScratchFile(QStringLiteral("decode/New_SX51804.sx"), input);
    try {
        sRecordFileHasBankRecords(path);
        const BankDescription description = describeBank(readBankFile(path).value);
        bankDescriptionText(description);
        const Result<ConfigurationDescription> configuration = loadConfiguration(path);
        if (configuration.whole()) {
            configurationDescriptionText(configuration.value);
            configurationDescriptionJson(configuration.value);
        }
    } catch (const Error&) {
    }
}

// The checks of what is typed into the 2.0B lists: the first byte sets the list's length and
// the base, the rest is the text.
inline void fuzzFilterEntries(const QByteArray& input)
{
    const quint8 first = input.isEmpty() ? 0 : quint8(input[0]);
    const int listCount = first & 0x7F;
    const NumberBase base = first & 0x80 ? NumberBase::Hexadecimal : NumberBase::Decimal;
    const QString typed = QString::fromUtf8(input.mid(1));
    const EntryCheck cobId = checkCobIdEntry(listCount, typed, base);
    if (cobId.whole())
        convertCobIdEntry(cobId.value, base);
    refusalOf(cobId);
    refusalOf(checkPatternEntry(listCount, typed));
    try {
        convertCobIdEntry(typed, base);
    } catch (const Error&) {
    }
    if (const std::optional<qint32> value = tryParseInt(typed)) {
        cobIdText(*value, base);
        if (*value >= 0 && *value < kStandardIdCount)
            standardIdText(*value, base);
    }
}

// One input given to a fuzz target by libFuzzer: Qt's warnings about hostile input are not
// printed, for they would only slow the run down.
inline int runInput(void (*run)(const QByteArray&), const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(quiet);
    run(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}

struct Entry
{
    const char* name; // the fuzz target, and its folders under fuzz/corpus and fuzz/regressions
    void (*run)(const QByteArray& input);
};

// The import of a bank: the input's bytes lie at the start of a bank whose other bytes are zero.
// Whatever it holds, the import says what stands in the way; without obstacles its documents
// compile to the bank byte for byte.
inline void fuzzBankImport(const QByteArray& input)
{
    ConfigurationBank bank{};
    std::copy_n(input.cbegin(), std::min<qsizetype>(input.size(), kBankSize), bank.begin());
    const BankImport imported = importBank(bank);
    if (imported.exact())
        require(!firstRebuildDifference(imported.project, bank).value,
                "an import without obstacles compiles to its bank");
}

// The readers of what people hand over in files: a batch table, and any file to describe.
inline void fuzzTableAndDescribe(const QByteArray& input)
{
    const QString path = putScratchFile(QStringLiteral("batch/lines.csv"), input);
    // A table is read, or refused with its reasons.
    const Result<BatchTable> table = readBatchTable(path, QStringLiteral("lines.csv"));
    Q_UNUSED(table);
    const CanonicalText described = canonicalText(path);
    require(!described.text().isEmpty(), "describe always says something");
    require(canonicalText(path).text() == described.text(), "describe is the same each time");
}

// A DBC file: every message read keeps its identifier within its form, and a selection of them
// for either frame format holds only identifiers of that format.
inline void fuzzDbcReader(const QByteArray& input)
{
    Result<QList<DbcMessage>> read;
    try {
        read = readDbcMessages(putScratchFile(QStringLiteral("bus.dbc"), input));
    } catch (const Error&) {
        return;
    }
    for (const DbcMessage& message : std::as_const(read.value))
        require(message.id <= (message.extended ? kPatternBits : quint32(kStandardIdCount - 1)),
                "a message's identifier fits its form");
    for (const FrameFormat format : {FrameFormat::Standard, FrameFormat::Extended}) {
        const DbcSelection selection = selectDbcMessages(read.value, {}, format, {}).value;
        require(std::is_sorted(selection.identifiers.begin(), selection.identifiers.end()),
                "the selection is ascending");
        require(qsizetype(selection.identifiers.size() + selection.skipped.size()) <=
                    read.value.size(),
                "the selection takes no more than the messages");
    }
}

// A recording read by one reader, or told by its content: every frame it gives has an
// identifier of its form, comes in order, and is counted; the tally of them prints.
inline void fuzzRecordingAs(const QByteArray& input, std::optional<LogFormat> format)
{
    const QString path = putScratchFile(QStringLiteral("recording"), input);
    qint64 frames = 0;
    qint64 lastNumber = 0;
    FilterTally tally;
    const FrameFilter filter(ConfigurationBank{});
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        require(frame.id <= (frame.extended ? 0x1FFFFFFFu : 0x7FFu), "an identifier of its form");
        require(frame.lineNumber > lastNumber, "frames come in order");
        require(frame.data.size() <= 64, "at most 64 data bytes");
        lastNumber = frame.lineNumber;
        ++frames;
        tally.add(frame, filter.verdict(frame.busFrame()));
    };
    const Result<LogReading> read =
        format ? readCanLogAs(path, *format, visitor) : readCanLog(path, visitor);
    if (!read.whole())
        return;
    const LogReading& reading = read.value;
    require(reading.frames == frames, "every frame is counted");
    require(reading.frames + reading.errorFrames > 0, "a reading holds a frame");
    tally.addReading(reading);
    filterTallyText(tally);
}

inline void fuzzRecording(const QByteArray& input)
{
    fuzzRecordingAs(input, std::nullopt);
}

inline void fuzzCandumpLog(const QByteArray& input)
{
    fuzzRecordingAs(input, LogFormat::Candump);
}

inline void fuzzCandumpScreen(const QByteArray& input)
{
    fuzzRecordingAs(input, LogFormat::CandumpScreen);
}

inline void fuzzVectorAsc(const QByteArray& input)
{
    fuzzRecordingAs(input, LogFormat::VectorAsc);
}

inline void fuzzPeakTrc(const QByteArray& input)
{
    fuzzRecordingAs(input, LogFormat::PeakTrc);
}

inline void fuzzVectorBlf(const QByteArray& input)
{
    fuzzRecordingAs(input, LogFormat::VectorBlf);
}

inline constexpr Entry kEntries[] = {
    {"fuzz_int_parse", fuzzIntParse},
    {"fuzz_general_parameters", fuzzGeneralParameters},
    {"fuzz_filter20a", fuzzFilter20A},
    {"fuzz_filter20b", fuzzFilter20B},
    {"fuzz_bank_compiler", fuzzBankCompiler},
    {"fuzz_profile_file", fuzzProfileFile},
    {"fuzz_srec_record", fuzzSRecord},
    {"fuzz_merge", fuzzMerge},
    {"fuzz_decode", fuzzDecode},
    {"fuzz_verify", fuzzVerify},
    {"fuzz_srec_reader", fuzzSRecordReader},
    {"fuzz_filter_entries", fuzzFilterEntries},
    {"fuzz_bank_import", fuzzBankImport},
    {"fuzz_table_and_describe", fuzzTableAndDescribe},
    {"fuzz_dbc_reader", fuzzDbcReader},
    {"fuzz_recording", fuzzRecording},
    {"fuzz_candump_log", fuzzCandumpLog},
    {"fuzz_candump_screen", fuzzCandumpScreen},
    {"fuzz_vector_asc", fuzzVectorAsc},
    {"fuzz_peak_trc", fuzzPeakTrc},
    {"fuzz_vector_blf", fuzzVectorBlf},
};

} // namespace quillner::fuzzing
