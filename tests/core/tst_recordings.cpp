// The recordings filter test reads: every format told by its content and read to the same
// frames, their corner cases, and what is refused with a reason.

#include "core/logs/candump_reader.h"
#include "core/logs/frame_tally.h"
#include "core/logs/recorded_traffic.h"
#include "core/logs/recording.h"
#include "core/logs/recording_tally.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "support/blf_writer.h"

#include <zlib.h>

using namespace quillner;
using namespace quillner::testing;

namespace {

// A frame as "ID e r f": the identifier in hex, then e for extended, r for remote, f for CAN FD.
QString frameKey(const LogFrame& frame)
{
    QString text = QString::number(frame.id, 16).toUpper();
    if (frame.extended)
        text += QStringLiteral(" e");
    if (frame.remote)
        text += QStringLiteral(" r");
    if (frame.fd)
        text += QStringLiteral(" f");
    return text;
}

struct Seen
{
    LogReading reading;
    QStringList frames;        // in order, as frameKey
    QMap<QString, int> counts; // by frameKey
    QString error;             // the refusal, when the recording was refused
};

Seen readRecording(const QString& path, CutShort cutShort = CutShort::Refused)
{
    Seen seen;
    LogVisitor visitor;
    visitor.frame = [&](const LogFrame& frame) {
        seen.frames << frameKey(frame);
        ++seen.counts[frameKey(frame)];
    };
    const Result<LogReading> read = readCanLog(path, visitor, cutShort);
    if (read.whole())
        seen.reading = read.value;
    seen.error = problemLines(read.problems).join(u'\n');
    return seen;
}

QByteArray gzipped(const QByteArray& bytes)
{
    z_stream zip{};
    deflateInit2(&zip, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&zip, uLong(bytes.size()))) + 32, '\0');
    zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    zip.avail_in = uInt(bytes.size());
    zip.next_out = reinterpret_cast<Bytef*>(out.data());
    zip.avail_out = uInt(out.size());
    deflate(&zip, Z_FINISH);
    out.resize(qsizetype(zip.total_out));
    deflateEnd(&zip);
    return out;
}

// CAN FD data of the length.
QByteArray bytesOf(int length)
{
    QByteArray data;
    for (int i = 0; i < length; ++i)
        data.append(char(i * 17 + 1));
    return data;
}

// The bytes with `with` written over them at `at`: a field of a BLF object made wrong.
QByteArray patched(QByteArray bytes, qsizetype at, const QByteArray& with)
{
    bytes.replace(at, with.size(), with);
    return bytes;
}

QByteArray le16(quint16 value)
{
    QByteArray bytes;
    return bytes.append(char(value & 0xFF)).append(char(value >> 8));
}

QByteArray le32(quint32 value)
{
    return le16(quint16(value)) + le16(quint16(value >> 16));
}

// The unreadable lines or objects as "object 2: why".
QStringList unreadableOf(const LogReading& reading)
{
    QStringList lines;
    for (const Problem& problem : reading.unreadable)
        lines << problem.location + QStringLiteral(": ") + problem.text;
    return lines;
}

// What filter test prints of a recording and what the reading held, or the refusal.
struct Tallied
{
    QString text;
    QByteArray json;
    QStringList unreadable; // as warnings name them
    qint64 lines = 0;
    qint64 unreadableCount = 0;
    qint64 cutShortAt = -1;
    QString error;

    friend bool operator==(const Tallied&, const Tallied&) = default;
};

Tallied tallied(const QString& path, const TallyThreads& threads, CutShort cutShort)
{
    // A 2.0A bank hiding every other eight identifiers; extended frames are of the other form.
    ConfigurationBank bank{};
    for (int byte = 0; byte < kBitmapBytes; byte += 2)
        bank[size_t(kFilterAreaOffset + byte)] = 0xFF;
    FilterTally tally;
    Tallied result;
    const Result<LogReading> read =
        tallyRecording(path, FrameFilter(bank), tally, cutShort, threads);
    if (read.whole()) {
        const LogReading& reading = read.value;
        tally.addReading(reading);
        result.unreadable = problemLines(reading.unreadable);
        result.lines = reading.lines;
        result.unreadableCount = reading.unreadableCount;
        result.cutShortAt = reading.cutShortAt;
    }
    result.error = problemLines(read.problems).join(u'\n');
    result.text = filterTallyText(tally);
    result.json = QJsonDocument(filterTallyJson(tally)).toJson();
    return result;
}

// candump -L lines of the extended identifiers first + 0 to first + count - 1.
QByteArray extendedLines(quint32 first, int count)
{
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines +=
            "(1.000000) can0 " + QByteArray::number(0x10000000u + first + quint32(i), 16) + "#11\n";
    return lines;
}

} // namespace

class TestRecordings : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    // The same frames, written by python-can's and can-utils' own writers, read the same in
    // every format, plain and gzip-compressed.
    void initTestCase()
    {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral(QUILLNER_SOURCE_DIR "/tests/support/write_recordings.py"),
                      m_dir.path(), QStringLiteral("3000"), QStringLiteral("7")});
        QVERIFY2(python.waitForFinished(120000), "write_recordings.py ends");
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    }

    void sameFramesInEveryFormat_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<QString>("format");
        const QList<std::pair<const char*, const char*>> frames{
            {"frames.log", "candump log"},        {"frames.blf", "Vector BLF"},
            {"frames.trc", "PEAK TRC 2.1"},       {"frames.asc", "Vector ASC"},
            {"frames_log2asc.asc", "Vector ASC"}, {"frames.screen", "candump screen output"},
        };
        for (const auto& [file, format] : frames) {
            QTest::newRow(file) << file << "frames.log" << format;
            if (QByteArrayView(file).startsWith("frames.") &&
                !QByteArrayView(file).endsWith("screen"))
                QTest::addRow("%s.gz", file)
                    << QStringLiteral("%1.gz").arg(QLatin1StringView(file)) << "frames.log"
                    << QStringLiteral("%1, gzip").arg(QLatin1StringView(format));
        }
        // Remote, CAN FD and error frames, in the formats that hold them.
        for (const char* file :
             {"mixed.blf", "mixed.asc", "mixed.log.gz", "mixed.blf.gz", "mixed_log2asc.asc"})
            QTest::newRow(file) << file << "mixed.log" << QString();
        // Every frame on a CANFD line, classic ones told by their flags.
        QTest::newRow("on_fd_channel_log2asc.asc") << "on_fd_channel_log2asc.asc"
                                                   << "on_fd_channel.log"
                                                   << "Vector ASC";
    }

    void sameFramesInEveryFormat()
    {
        QFETCH(QString, file);
        QFETCH(QString, reference);
        QFETCH(QString, format);
        const Seen expected = readRecording(m_dir.filePath(reference));
        const Seen seen = readRecording(m_dir.filePath(file));
        QCOMPARE(seen.error, QString());
        QCOMPARE(seen.counts, expected.counts);
        QCOMPARE(seen.reading.frames, expected.reading.frames);
        QCOMPARE(seen.reading.errorFrames, expected.reading.errorFrames);
        QCOMPARE(seen.reading.unreadableCount, 0);
        if (!format.isEmpty())
            QCOMPARE(seen.reading.formatText(), format);
        QVERIFY(expected.reading.frames > 1000);
        if (reference != QStringLiteral("frames.log")) {
            QVERIFY(expected.reading.errorFrames > 0 || reference != QStringLiteral("mixed.log"));
            const QStringList keys = expected.counts.keys();
            QVERIFY(keys.filter(QStringLiteral(" r")).size() > 0);
            QVERIFY(keys.filter(QStringLiteral(" f")).size() > 0);
        }
    }

    // Text recordings, each told by its content whatever comes first.
    void text_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<int>("errorFrames");
        QTest::addColumn<int>("unreadable");
        const QByteArray candump = "(1700000000.000001) can0 123#DEADBEEF\n"
                                   "(1700000000.000002) can0 18FEF100#01\n";
        QTest::newRow("candump after a # header")
            << "# recorded on the test bench\n# can0 at 250 kbit/s\n" + candump << "candump log"
            << QStringList{"123", "18FEF100 e"} << 0 << 0;
        QTest::newRow("byte-order mark and CR LF")
            << QByteArray("\xEF\xBB\xBF" + QByteArray(candump).replace("\n", "\r\n"))
            << "candump log" << QStringList{"123", "18FEF100 e"} << 0 << 0;
        QTest::newRow("comments of every kind and blank lines")
            << "; one\n// two\n\n   \n\t\n" + candump + "# three\n\n"
            << "candump log" << QStringList{"123", "18FEF100 e"} << 0 << 0;
        QTest::newRow("candump raw length codes")
            << QByteArray("(1.000000) can0 123#1122334455667788_C\n"
                          "(1.000001) can0 124#R8_D\n(1.000002) can0 125#R3 T\n")
            << "candump log" << QStringList{"123", "124 r", "125 r"} << 0 << 0;
        QTest::newRow("candump screen")
            << QByteArray("  can0  123   [2]  11 22\n"
                          "  can0  18FEF100   [8]  01 02 03 04 05 06 07 08\n"
                          "  can0  7DF   [0]  remote request\n"
                          "  can0  100  [12]  01 02 03 04 05 06 07 08 09 0A 0B 0C\n"
                          "  can0  123   {C}  11 22 33 44 55 66 77 88\n"
                          "  can0  20000004   [8]  00 04 00 00 00 00 00 00   ERRORFRAME\n"
                          "\tcontroller-problem{rx-error-warning}\n"
                          "  can0  12   [2]  11 22\n")
            << "candump screen output" << QStringList{"123", "18FEF100 e", "7DF r", "100 f", "123"}
            << 1 << 1;
        QTest::newRow("candump screen timestamps and extra columns")
            << QByteArray(" (1700000000.123456)  can0  123   [2]  11 22\n"
                          " (000.000123)  can0  124   [1]  11\n"
                          " (000.000000)  can1  125   [0] \n"
                          " (2023-11-13 10:00:00.123456)  vcan0  126   [1]  11\n"
                          "  can0  RX - -  127   [1]  11\n"
                          " (1700000000.123456)  can0  TX B E  18000001  [64]  00 11\n"
                          "  can0       128   [1]  11  '.'\n")
            << "candump screen output"
            << QStringList{"123", "124", "125", "126", "127", "18000001 e f", "128"} << 0 << 0;
        QTest::newRow("asc with error frames")
            << QByteArray("\xEF\xBB\xBF"
                          "date Mon Nov 13 10:00:00.000 am 2023\r\n"
                          "base hex  timestamps absolute\r\n"
                          "   0.001000 1  123             Rx   d 1 00\r\n"
                          "   0.002000 1  ErrorFrame\r\n"
                          "   0.003000 CANFD   1 Rx ErrorFrame\r\n"
                          "   0.004000 1  Statistic: D 0 R 0 XD 0 XR 0 E 0 O 0 B 0.00%\r\n")
            << "Vector ASC" << QStringList{"123"} << 2 << 0;
        // The Flags column (3000: EDL and bit-rate switch; 10: a remote frame, EDL clear) tells
        // a CANFD line's frame; a line without those columns cannot be judged.
        QTest::newRow("asc CANFD lines told by their flags")
            << QByteArray("base hex  timestamps absolute\n"
                          "   0.001 CANFD   1 Rx 123  0 0 2  2 11 22   130000  130        0 0 0 0 "
                          "0 0\n"
                          "   0.002 CANFD   1 Tx 12345678x  0 0 3  0   130000  130       10 0 0 "
                          "0 0 0\n"
                          "   0.003 CANFD   1 Rx 456  1 0 9 12 01 02 03 04 05 06 07 08 09 0A 0B "
                          "0C   130000  130     3000 0 0 0 0 0\n"
                          "   0.004 CANFD   2 Rx 457  EngineData  0 1 2  2 11 22   130000  130  "
                          "   1000 0 0 0 0 0\n"
                          "   0.005 CANFD   1 Rx 100  0 0 0  0   130000  130     1010 0 0 0 0 "
                          "0\n")
            << "Vector ASC" << QStringList{"123", "12345678 e r", "456 f", "457 f", "100 f"} << 0
            << 0;
        QTest::newRow("asc CANFD lines of another layout are unreadable")
            << QByteArray("base hex  timestamps absolute\n"
                          "   0.001 1  123             Rx   d 1 00\n"
                          "   0.002 CANFD 1 101 Tx 1 0 d 8 8 01 02 03 04 05 06 07 08\n"
                          "   0.003 CANFD   1 Rx 124  0 0 2  2 11 22   130000  130\n"
                          "   0.004 CANFD   1 Rx 125  0 0 2  9 11 22   130000  130        0\n"
                          "   0.005 CANFD   1 Rx 800  0 0 2  2 11 22   130000  130        0\n")
            << "Vector ASC" << QStringList{"123"} << 0 << 4;
        QTest::newRow("trc 1.0")
            << QByteArray(";##########\n;   C:\\trace.trc\n"
                          "     1)      1841      0001  8  00 00 00 00 00 00 00 00\n"
                          "     2)      1842      0008  4  ERROR 00 19 08 08\n"
                          "     3)      1843  FFFFFFFF  4  00 00 00 04 -- -- -- --  BUSLIGHT\n"
                          "     4)      1844      0100  3  RTR\n"
                          "     5)      1845  00100000  1  AA\n")
            << "PEAK TRC 1.0" << QStringList{"1", "100 r", "100000 e"} << 1 << 0;
        QTest::newRow("trc 1.1")
            << QByteArray(";$FILEVERSION=1.1\r\n;$STARTTIME=37704.5364870833\r\n;\r\n"
                          "     1)      1059.9  Rx         0300  7  00 00 00 00 04 00 00\r\n"
                          "     2)      1298.9  Tx     18EFC034  2  00 00\r\n"
                          "     3)      1346.8  Warng  FFFFFFFF  4  00 00 00 04  BUSLIGHT\r\n"
                          "     4)      1349.2  Error      0008  4  00 19 08 08\r\n"
                          "     5)      1352.7  Rx         0100  3  RTR\r\n")
            << "PEAK TRC 1.1" << QStringList{"300", "18EFC034 e", "100 r"} << 1 << 0;
        QTest::newRow("trc 1.2")
            << QByteArray(";$FILEVERSION=1.2\n"
                          "     1)      1059.900  1  Rx         0300  7  00 00 00 00 04 00 00\n"
                          "     2)      1349.222  2  Error      0008  4  00 19 08 08\n"
                          "     3)      1352.743  1  Rx         0100  3  RTR\n")
            << "PEAK TRC 1.2" << QStringList{"300", "100 r"} << 1 << 0;
        QTest::newRow("trc 1.3")
            << QByteArray(";$FILEVERSION=1.3\n;$STARTTIME=40023.5245451516\n"
                          "     1)      1059.900 1  Rx        0300 -  7    00 00 00 00 04 00 00\n"
                          "     2)      1298.945 1  Tx    18EFC034 -  2    00 00\n"
                          "     3)      1346.834 1  Warng FFFFFFFF -  4    00 00 00 04  BUSLIGHT\n"
                          "     4)      1349.222 1  Error     0008 -  4    00 19 08 08\n"
                          "     5)      1352.743 1  Rx        0100 -  3    RTR\n"
                          "     6)      1352.800 1  Rx        0101 7  3    00 00 00\n")
            << "PEAK TRC 1.3" << QStringList{"300", "18EFC034 e", "100 r"} << 1 << 1;
        QTest::newRow("trc 2.0")
            << QByteArray(
                   ";$FILEVERSION=2.0\n;$STARTTIME=42209.4075997106\n"
                   ";$COLUMNS=N,O,T,I,d,l,D\n"
                   "      1      1059.900 DT     0300 Rx 7  00 00 00 00 04 00 00\n"
                   "      2      1334.416 FD     0500 Tx 12 01 02 03 04 05 06 07 08 09 0A 0B 0C\n"
                   "      3      1334.522 ER          Rx    04 00 02 00 00\n"
                   "      4      1334.531 ST          Rx    00 00 00 08\n"
                   "      5      1334.643 EC          Rx    02 02\n"
                   "      6      1335.156 DT 18EFC034 Tx 8  01 02 03 04 05 06 07 08\n"
                   "      7      1336.543 RR     0100 Rx 3\n")
            << "PEAK TRC 2.0" << QStringList{"300", "500 f", "18EFC034 e", "100 r"} << 1 << 0;
        QTest::newRow("trc 2.1")
            << QByteArray(
                   ";$FILEVERSION=2.1\n;$STARTTIME=41766.4648963872\n"
                   ";$COLUMNS=N,O,T,B,I,d,R,L,D\n"
                   "      1      1059.900 DT 1      0300 Rx -  7    00 00 00 00 04 00 00\n"
                   "      2      1334.416 FB 1      0500 Tx -  9    01 02 03 04 05 06 07 08 09 0A "
                   "0B 0C\n"
                   "      3      1334.222 ER 1         - Rx -  5    04 00 02 00 00\n"
                   "      4      1334.224 EV 1  User-defined event for bus 1\n"
                   "      5      1334.231 ST 1         - Rx -  4    00 00 00 08\n"
                   "      6      1335.156 DT 1  18EFC034 Tx -  8    01 02 03 04 05 06 07 08\n"
                   "      7      1336.543 RR 1      0100 Rx -  3\n"
                   "      8      1336.600 XX 1      0100 Rx -  3\n")
            << "PEAK TRC 2.1" << QStringList{"300", "500 f", "18EFC034 e", "100 r"} << 1 << 1;
        QTest::newRow("trc 2.1 with columns in another order")
            << QByteArray(";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,B,I,d,l,D\n"
                          "      1      1059.900 DT 1  00000300 Rx 7  00 00 00 00 04 00 00\n")
            << "PEAK TRC 2.1" << QStringList{"300 e"} << 0 << 0;
    }

    void text()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, format);
        QFETCH(QStringList, frames);
        QFETCH(int, errorFrames);
        QFETCH(int, unreadable);
        for (const bool compressed : {false, true}) {
            const Seen seen = readRecording(
                write(QStringLiteral("text"), compressed ? gzipped(content) : content));
            QCOMPARE(seen.error, QString());
            QCOMPARE(seen.reading.formatText(),
                     compressed ? format + QStringLiteral(", gzip") : format);
            QCOMPARE(seen.frames, frames);
            QCOMPARE(seen.reading.errorFrames, errorFrames);
            QCOMPARE(seen.reading.unreadableCount, unreadable);
        }
    }

    // Vector BLF files made object by object: the corner cases of the format.
    void blf_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("frames"); // when read
        QTest::addColumn<int>("errorFrames");
        QTest::addColumn<QString>("error"); // a part of the refusal; empty when read
        QTest::addColumn<QStringList>("unreadable");

        const QByteArray classic = blfCanMessage(0x123, false, "\x11\x22") +
                                   blfCanMessage(0x18FEF100, true, bytesOf(8)) +
                                   blfCanMessage(0x7DF, false, {}, true);
        const QStringList classicFrames{"123", "18FEF100 e", "7DF r"};
        const QStringList none;
        QTest::newRow("one compressed container")
            << blfFile(classic) << classicFrames << 0 << "" << none;
        QTest::newRow("stored containers")
            << blfFile(classic, 1 << 17, false) << classicFrames << 0 << "" << none;
        // Containers of 20 bytes: every object begins in one and ends in a later one.
        QTest::newRow("objects split across containers")
            << blfFile(classic, 20) << classicFrames << 0 << "" << none;
        QTest::newRow("header versions 1 and 2, every frame type")
            << blfFile(blfCanMessage(0x1, false, "\x01", false, 2) +
                           blfCanMessage(0x2, false, "\x02", false, 1, 86) +
                           blfCanMessage(0x3, true, "\x03", true, 2, 86) +
                           blfCanFdMessage(0x4, false, bytesOf(12)) +
                           blfCanFdMessage(0x5, false, bytesOf(8), false) +
                           blfCanFdMessage(0x6, false, {}, false, true, 2) +
                           blfCanFdMessage64(0x7, true, bytesOf(64)) +
                           blfCanFdMessage64(0x8, false, bytesOf(3), false) +
                           blfCanFdMessage64(0x9, false, {}, false, true, 1) + blfErrorFrame() +
                           blfErrorFrame(2),
                       100)
            << QStringList{"1", "2", "3 e r", "4 f", "5", "6 r", "7 e f", "8", "9 r"} << 2 << ""
            << none;
        // Byte 4 of an object is its header size field; the header is read by its version.
        QTest::newRow("header size field smaller than the version's header")
            << blfFile(patched(blfCanMessage(0x1, false, "\x01", false, 1), 4, le16(16)) +
                       patched(blfCanMessage(0x2, true, "\x02", false, 2), 4, le16(16)) +
                       patched(blfCanFdMessage64(0x3, false, bytesOf(12)), 4, le16(0)) +
                       patched(blfErrorFrame(1), 4, le16(16)))
            << QStringList{"1", "2 e", "3 f"} << 1 << "" << none;
        QTest::newRow("header versions not known, headers over 64 bytes")
            << blfFile(blfObject({1, 0, QByteArray(16, '\0'), 0, {}, {}}) +
                       blfObject({1, 3, QByteArray(16, '\0'), 0, {}, {}}) +
                       patched(blfCanMessage(0x5, false, "\x01"), 4, le16(72)) +
                       blfObject({73, 3, QByteArray(32, '\0'), 0, {}, {}}) +
                       blfCanMessage(0x124, false, "\x01"))
            << QStringList{"124"} << 0 << ""
            << QStringList{"object 1: a CAN object of header version 0, which is not known",
                           "object 2: a CAN object of header version 3, which is not known",
                           "object 3: a CAN object with a header of 72 bytes, more than 64",
                           "object 4: a CAN object of header version 3, which is not known"};
        QTest::newRow("object smaller than its version's header")
            << blfFile(patched(blfCanMessage(0x123, false, "\x01"), 8, le32(20)).first(20) +
                       patched(blfCanMessage(0x124, false, "\x01"), 6, le16(2)) +
                       blfCanMessage(0x125, false, "\x01"))
            << QStringList{"125"} << 0 << ""
            << QStringList{"object 1: a CAN message object of 20 bytes is too small",
                           "object 2: a CAN message object of 48 bytes is too small"};
        QTest::newRow("unknown objects skipped by their size")
            << blfFile(blfObject({65, 1, QByteArray(101, 'x'), 0, {}, {}}) + classic +
                           blfObject({999, 2, QByteArray(3000, '\x07'), 0, {}, {}}) +
                           blfObject({999, 3, QByteArray(30, '\x07'), 0, {}, 200}) +
                           blfCanMessage(0x124, false, "\x01"),
                       512)
            << QStringList{"123", "18FEF100 e", "7DF r", "124"} << 0 << "" << none;
        // Byte 35 of a classic message is its length code (after the 32-byte header).
        QTest::newRow("invalid frames beside a valid one")
            << blfFile(blfCanMessage(0x4444444, false, "\x01") +
                       patched(blfCanMessage(0x123, false, "\x01"), 35, QByteArray(1, 51)) +
                       blfCanMessage(0x124, false, "\x01"))
            << QStringList{"124"} << 0 << ""
            << QStringList{"object 1: identifier 0x4444444 is no 11-bit one",
                           "object 2: length code 51 is more than a frame's 15"};
        QTest::newRow("only invalid frames")
            << blfFile(blfCanMessage(0x4444444, false, "\x01") +
                       patched(blfCanMessage(0x123, false, "\x01"), 35, QByteArray(1, 51)))
            << none << 0
            << "no frame in this Vector BLF recording (2 objects); unreadable: object 1: "
               "identifier 0x4444444 is no 11-bit one; object 2: length code 51 is more than a "
               "frame's 15"
            << none;

        // Byte 8 of a container's fields (at 144 + 16) is its declared unpacked size.
        QTest::newRow("container that declares more than it unpacks to")
            << patched(blfFile(classic), 144 + 16 + 8, le32(100000)) << classicFrames << 0 << ""
            << none;
        QTest::newRow("container that unpacks to more than it declares")
            << patched(blfFile(classic), 144 + 16 + 8, le32(10)) << none << 0
            << "file.blf, byte 144: log container 1 unpacks to more than the 10 bytes it declares"
            << none;
        // 64 MiB of frames in a container of a few hundred kilobytes: refused at 128 KiB,
        // unpacked whole; a container declaring more than 16 MiB is unpacked in pieces.
        QTest::newRow("container unpacking far past its size, whole")
            << blfFileHeader() + blfContainer(classic) +
                   blfRepeatingContainer(classic, (64 << 20) / int(classic.size()), 128 << 10)
            << none << 0
            << "file.blf, byte 236: log container 2 unpacks to more than the 131072 bytes it "
               "declares"
            << none;
        QTest::newRow("container unpacking far past its size, in pieces")
            << blfFileHeader() +
                   blfRepeatingContainer(classic, (64 << 20) / int(classic.size()), 17 << 20)
            << none << 0
            << "file.blf, byte 144: log container 1 unpacks to more than the 17825792 bytes it "
               "declares"
            << none;

        const QByteArray zeroSize = blfObject({1, 1, QByteArray(16, '\0'), 0, 0u, {}});
        QTest::newRow("zero size")
            << blfFile(classic + zeroSize + classic) << classicFrames << 0
            << "object 4 at byte 144 of the log container at byte 144: its size (0 bytes) is "
               "smaller than an object header"
            << none;
        QTest::newRow("size past the end")
            << blfFile(classic + blfObject({1, 1, QByteArray(16, '\0'), 0, 5000000u, {}}), 64)
            << classicFrames << 0 << "object 4 at byte" << none;
        QByteArray damaged = blfFile(classic);
        damaged[144 + 32] = '\0'; // the zlib header's first byte
        QTest::newRow("damaged compressed data")
            << damaged << QStringList{} << 0
            << "byte 144: the compressed data of the log container are damaged" << none;
        QTest::newRow("no object signature")
            << blfFileHeader() + QByteArray("LOBX") + QByteArray(40, '\1') << QStringList{} << 0
            << "byte 144: no object begins here" << none;
        QTest::newRow("file header only")
            << blfFileHeader() << QStringList{} << 0
            << "no frame in this Vector BLF recording (0 objects)" << none;
    }

    void blf()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, frames);
        QFETCH(int, errorFrames);
        QFETCH(QString, error);
        QFETCH(QStringList, unreadable);
        const Seen seen = readRecording(write(QStringLiteral("file.blf"), file));
        if (error.isEmpty()) {
            QCOMPARE(seen.frames, frames);
            QCOMPARE(seen.error, QString());
            QCOMPARE(seen.reading.errorFrames, errorFrames);
            QCOMPARE(unreadableOf(seen.reading), unreadable);
            QCOMPARE(seen.reading.unreadableCount, unreadable.size());
            QCOMPARE(seen.reading.formatText(), QStringLiteral("Vector BLF"));
        } else {
            QVERIFY2(seen.error.startsWith(QStringLiteral("file.blf")), qPrintable(seen.error));
            QVERIFY2(seen.error.contains(error), qPrintable(seen.error));
        }
    }

    // A recording that ends inside a line or an object (a logger that lost power) is read to its
    // last whole frame, and refused unless that is asked for; one that ends whole is not cut.
    void cutShort_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<qint64>("at"); // where it is cut short; -1 when whole, 0 when not known
                                        // before (frames are then the whole recording's, and a
                                        // shorter start of them is read)
        const QByteArray candump = "(1.000000) can0 123#11\n(1.000001) can0 18FEF100#22\n";
        const QStringList candumpFrames{"123", "18FEF100 e"};
        QTest::newRow("candump inside a line")
            << candump + "(1.000002) can0 12" << candumpFrames << qint64(candump.size() + 18);
        QTest::newRow("candump ending in zeros")
            << candump + QByteArray(300, '\0') << candumpFrames << qint64(candump.size() + 300);
        QTest::newRow("candump whole without a last line end")
            << candump + "(1.000002) can0 124#33" << QStringList{"123", "18FEF100 e", "124"}
            << qint64(-1);
        QTest::newRow("candump whole") << candump << candumpFrames << qint64(-1);
        const QByteArray trc = ";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,B,I,d,R,L,D\n"
                               "      1      1059.900 DT 1      0300 Rx -  7    00 00 00 00 04 "
                               "00 00\n";
        QTest::newRow("trc inside a line")
            << trc + "      2      1060.100 DT 1" << QStringList{"300"} << qint64(trc.size() + 26);
        const QByteArray asc = "base hex  timestamps absolute\n"
                               "   0.001 CANFD   1 Rx 123  0 0 2  2 11 22   130000  130        0 0 "
                               "0 0 0 0\n";
        const QByteArray ascCut = "   0.002 CANFD   1 Rx 124  0 0 2  2 11 22   130000";
        QTest::newRow("asc CANFD line before its flags")
            << asc + ascCut << QStringList{"123"} << qint64(asc.size() + ascCut.size());
        // gzip data that end early: the lines unpacked before are read, the last one only when
        // it ended.
        QByteArray many;
        QStringList manyFrames;
        for (int i = 0; i < 400; ++i) {
            many += QStringLiteral("(1.%1) can0 %2#%3\n")
                        .arg(i * 7919 % 1000000, 6, 10, QChar(u'0'))
                        .arg(i * 31 % 0x800, 3, 16, QChar(u'0'))
                        .arg(i * 7 % 256, 2, 16, QChar(u'0'))
                        .toLatin1()
                        .toUpper();
            manyFrames << QString::number(i * 31 % 0x800, 16).toUpper();
        }
        const QByteArray packed = gzipped(many);
        QTest::newRow("gzip ending early")
            << packed.first(packed.size() - 8 - 100) << manyFrames << qint64(0);

        const QByteArray classic = blfCanMessage(0x123, false, "\x11\x22") +
                                   blfCanMessage(0x18FEF100, true, bytesOf(8)) +
                                   blfCanMessage(0x7DF, false, {}, true);
        const QByteArray stored = blfFile(classic, 1 << 17, false);
        QTest::newRow("blf inside an object of a stored container")
            << stored.first(stored.size() - 20) << QStringList{"123", "18FEF100 e"}
            << qint64(stored.size() - 20);
        QTest::newRow("blf inside an object header")
            << blfFile(classic) + "LOBJ\x10" << QStringList{"123", "18FEF100 e", "7DF r"}
            << qint64(blfFile(classic).size() + 5);
        QTest::newRow("blf inside a container's header")
            << blfFile(classic) + blfContainer(classic).first(24)
            << QStringList{"123", "18FEF100 e", "7DF r"} << qint64(blfFile(classic).size() + 24);
        QTest::newRow("blf inside its file header")
            << QByteArray("LOGG\x90\0\0\0", 8) + QByteArray(20, '\0') << QStringList{}
            << qint64(28);
    }

    void cutShort()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, frames);
        QFETCH(qint64, at);
        const QString path = write(QStringLiteral("cut.log"), content);
        const Seen read = readRecording(path, CutShort::Read);
        if (at == 0) {
            // As much as zlib gave before the data end, to the last line that ended.
            QVERIFY(read.frames.size() > 100 && read.frames.size() < frames.size());
            frames = frames.first(read.frames.size());
            at = read.reading.cutShortAt;
            QVERIFY(at > 0);
        }
        const QString cutText = QStringLiteral("cut.log: cut short at byte %1, after %2 %3")
                                    .arg(at)
                                    .arg(frames.size())
                                    .arg(frames.size() == 1 ? "frame" : "frames");
        const Seen refused = readRecording(path);
        if (at < 0) {
            QCOMPARE(refused.error, QString());
            QCOMPARE(refused.frames, frames);
        } else {
            QCOMPARE(refused.error, cutText);
        }
        if (frames.isEmpty()) {
            QCOMPARE(read.error, cutText); // nothing to read before the cut
            return;
        }
        QCOMPARE(read.error, QString());
        QCOMPARE(read.frames, frames);
        QCOMPARE(read.reading.cutShortAt, at);
        QCOMPARE(read.reading.unreadableCount, 0);
    }

    // The time a fit weighs frames over, from the times each format writes: TRC's offsets in
    // milliseconds, candump's screen output with times or, when they fall somewhere, with the
    // gaps between frames.
    void recordedTimes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<double>("seconds"); // 0 for none
        QTest::newRow("candump log") << QByteArray("(1700000000.000000) can0 18FEF100#11\n"
                                                   "(1700000002.500000) can0 18FEF101#11\n")
                                     << 2.5;
        QTest::newRow("trc 2.1")
            << QByteArray(
                   ";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,B,I,d,R,L,D\n"
                   "      1      1059.900 DT 1  18EFC034 Tx -  8    01 02 03 04 05 06 07 08\n"
                   "      2      4059.900 DT 1  18EFC035 Tx -  8    01 02 03 04 05 06 07 08\n")
            << 3.0;
        QTest::newRow("trc 1.1") << QByteArray(";$FILEVERSION=1.1\n"
                                               "     1)      1000.0  Rx     18EFC034  2  00 00\n"
                                               "     2)      1500.0  Tx     18EFC034  2  00 00\n")
                                 << 0.5;
        QTest::newRow("candump screen, times")
            << QByteArray(" (000.000000)  can0  18FEF100   [1]  11\n"
                          " (001.000000)  can0  18FEF100   [1]  11\n"
                          " (004.000000)  can0  18FEF100   [1]  11\n")
            << 4.0;
        QTest::newRow("candump screen, gaps")
            << QByteArray(" (000.000000)  can0  18FEF100   [1]  11\n"
                          " (002.000000)  can0  18FEF100   [1]  11\n"
                          " (001.000000)  can0  18FEF100   [1]  11\n")
            << 3.0;
        QTest::newRow("candump screen, dates")
            << QByteArray(" (2023-11-13 10:00:00.000000)  can0  18FEF100   [1]  11\n"
                          " (2023-11-13 10:01:00.500000)  can0  18FEF100   [1]  11\n")
            << 60.5;
        QTest::newRow("candump screen without times")
            << QByteArray("  can0  18FEF100   [1]  11\n  can0  18FEF100   [1]  11\n") << 0.0;
    }

    void recordedTimes()
    {
        QFETCH(QByteArray, content);
        QFETCH(double, seconds);
        const Result<RecordedTraffic> read =
            readRecordedTraffic(write(QStringLiteral("timed.log"), content));
        QVERIFY(read.whole());
        const RecordedTraffic& traffic = read.value;
        QVERIFY(traffic.frames >= 2);
        if (seconds == 0)
            QVERIFY(!traffic.seconds);
        else
            QCOMPARE(traffic.seconds.value_or(-1), seconds);
    }

    // A BLF frame's time, written as a candump log line, right to the last nanosecond 64 bits
    // hold and past it for stamps in 10 µs units; byte 16 of an object says which unit.
    void blfTimes_data()
    {
        QTest::addColumn<quint64>("stamp");
        QTest::addColumn<bool>("tenMicroseconds");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("nanoseconds")
            << quint64(1234567890123) << false << QByteArray("(1234.567890) can1 123#11");
        QTest::newRow("2^63 ns") << (quint64(1) << 63) << false
                                 << QByteArray("(9223372036.854775) can1 123#11");
        QTest::newRow("2^64 ns less one")
            << ~quint64(0) << false << QByteArray("(18446744073.709551) can1 123#11");
        QTest::newRow("10 us units")
            << quint64(123456) << true << QByteArray("(1.234560) can1 123#11");
        QTest::newRow("2^60 10 us units")
            << (quint64(1) << 60) << true << QByteArray("(11529215046068.469760) can1 123#11");
        QTest::newRow("2^64 10 us units less one")
            << ~quint64(0) << true << QByteArray("(184467440737095.516150) can1 123#11");
    }

    void blfTimes()
    {
        QFETCH(quint64, stamp);
        QFETCH(bool, tenMicroseconds);
        QFETCH(QByteArray, line);
        QByteArray object = blfCanMessage(0x123, false, "\x11", false, 1, 1, stamp);
        if (tenMicroseconds)
            object = patched(object, 16, le32(1));
        QByteArrayList lines;
        LogVisitor visitor;
        visitor.frame = [&](const LogFrame& frame) { lines << candumpLogLine(frame); };
        QVERIFY(readCanLog(write(QStringLiteral("times.blf"), blfFile(object)), visitor).whole());
        QCOMPARE(lines, QByteArrayList{line});
    }

    // A visitor that stops the reading gets no frame after the one it stopped at, and the reading
    // is whole as far as it went: neither judged nor refused, though the rest is unread.
    void aVisitorStopsTheReading_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QByteArray lines;
        QByteArray objects;
        for (int i = 1; i <= 5; ++i) {
            lines += QByteArray("(0.00000") + QByteArray::number(i) + ") can0 12" +
                     QByteArray::number(i) + "#11\n";
            objects += blfCanMessage(0x120 + quint32(i), false, "\x11");
        }
        QTest::newRow("candump log") << QStringLiteral("stop.log") << lines;
        QTest::newRow("Vector BLF") << QStringLiteral("stop.blf") << blfFile(objects);
        // The rest would be refused: what is not read is not judged.
        QTest::newRow("cut short after the stop")
            << QStringLiteral("stop_cut.log") << lines + "(0.000006) can0 1";
    }

    void aVisitorStopsTheReading()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        int frames = 0;
        bool stop = false;
        LogVisitor visitor;
        visitor.stop = &stop;
        visitor.frame = [&](const LogFrame&) { stop = ++frames == 2; };
        const Result<LogReading> read = readCanLog(write(name, content), visitor);
        QVERIFY2(read.whole(), qPrintable(problemLines(read.problems).join(u'\n')));
        QCOMPARE(frames, 2);
        QCOMPARE(read.value.frames, qint64(2));
    }

    // What holds no frame is refused with what was found, never read as "0 frames".
    void refused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // after the file's name
        QTest::newRow("empty") << QByteArray() << ": empty, no recording";
        QTest::newRow("passwd") << QByteArray("root:x:0:0:root:/root:/bin/bash\n"
                                              "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n")
                                << ": no frame in any known format; first line: "
                                   "root:x:0:0:root:/root:/bin/bash";
        QTest::newRow("comments only") << QByteArray("# nothing recorded\n\n; really\n")
                                       << ": no frame in any known format; first line: # nothing "
                                          "recorded";
        QTest::newRow("blank lines only")
            << QByteArray("\n  \r\n\n") << ": no frame in any known format; first line: (blank)";
        QTest::newRow("binary") << QByteArray("\x7F"
                                              "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0",
                                              18)
                                << ": no frame in any known format; first line: binary data";
        QTest::newRow("asc header without frames")
            << QByteArray("date Mon Nov 13 10:00:00.000 am 2023\nbase hex  timestamps absolute\n"
                          "   0.000000 Start of measurement\n")
            << ": no frame in this Vector ASC recording (3 lines)";
        QTest::newRow("gzip of nothing") << gzipped({}) << ": the gzip data hold nothing";
        QTest::newRow("damaged gzip") << QByteArray("\x1F\x8B\x08\0\0\0\0\0\0\x03garbage!", 18)
                                      << ": not valid gzip data (invalid block type)";
        QTest::newRow("trc of an unknown version")
            << QByteArray(";$FILEVERSION=3.0\n      1      1.0 DT 0300 Rx 0\n")
            << ", line 1: PEAK TRC version 3.0 is not one of 1.0 to 2.1";
    }

    void refused()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        const Seen seen = readRecording(write(QStringLiteral("recording.log"), content));
        QCOMPARE(seen.error, QStringLiteral("recording.log") + error);
    }

    void devicesAndFoldersAreRefused()
    {
        QVERIFY(readRecording(QStringLiteral("/dev/zero"))
                    .error.contains(QStringLiteral("neither a regular file nor a pipe")));
        QVERIFY(readRecording(m_dir.path()).error.contains(QStringLiteral("is a folder")));
    }

    // A line longer than any recording has is told and passed over, not kept whole.
    void overlongLine()
    {
        const QByteArray content = "(1.0) can0 123#11\n" + QByteArray(5 << 20, 'A') +
                                   "\n(1.1) can0 124#22\n" + QByteArray(3 << 20, 'B');
        const Seen seen = readRecording(write(QStringLiteral("long.log"), content));
        QCOMPARE(seen.error, QString());
        QCOMPARE(seen.frames, (QStringList{"123", "124"}));
        QCOMPARE(seen.reading.unreadableCount, 2);
        QCOMPARE(problemLines(seen.reading.unreadable).first(),
                 QStringLiteral("long.log, line 2: a line longer than 65536 bytes"));
    }

    // A large candump log read by two threads, each from one part, gives what one thread gives:
    // the tally to the identifiers listed before the others' row, the unreadable lines listed
    // with their numbers, the line count and where it is cut short.
    void twoThreadsReadAsOne_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("splitNear"); // where the second thread looks for its first line
        QByteArray mixed;
        for (int i = 0; i < 60; ++i) {
            mixed += QStringLiteral("(1.%1) can0 %2#%3\n")
                         .arg(i, 6, 10, QChar(u'0'))
                         .arg(i * 37 % 0x800, 3, 16, QChar(u'0'))
                         .arg(i % 3 ? "DEADBEEF" : "R")
                         .toLatin1();
            if (i % 7 == 3)
                mixed += "(1.5) can0 1234#11\n"; // an identifier of neither width
            if (i % 11 == 5)
                mixed += "# a comment\n\n(1.6) can0 20000004#0004000000000000\n";
            if (i % 13 == 2)
                mixed += "(1.7) can0 18FEF1" + QByteArray::number(i, 16).rightJustified(2, '0') +
                         "##1" + QByteArray(24, 'A') + "\n";
        }
        const qint64 middle = mixed.size() / 2;
        QTest::newRow("split inside a line") << mixed << middle;
        QTest::newRow("split at a line's start")
            << mixed << qint64(mixed.indexOf('\n', middle) + 1);
        QTest::newRow("split after the first line") << mixed << qint64(1);
        QTest::newRow("split inside the last line") << mixed << qint64(mixed.size() - 3);
        QTest::newRow("byte-order mark and CR LF")
            << "\xEF\xBB\xBF" + QByteArray(mixed).replace("\n", "\r\n") << middle;
        QByteArray unreadable;
        for (int i = 0; i < 30; ++i)
            unreadable += "(1.0) can0 12#11\n(1.0) can0 123#11\n";
        QTest::newRow("unreadable lines listed from both parts")
            << mixed + unreadable << qint64(mixed.size() - 10);
        QTest::newRow("more than the listed in the first part")
            << unreadable + unreadable << qint64(unreadable.size() + 5);
        QTest::newRow("cut short in the second part") << mixed + "(1.9) can0 12" << middle;
        QTest::newRow("a line longer than any in the second part")
            << mixed + QByteArray(70000, 'x') + "\n" + mixed << middle;
        QTest::newRow("screen output")
            << QByteArray("  can0  123   [2]  11 22\n  can0  18FEF100   [8]  01 02 03 04 05 06 "
                          "07 08\n  can0  7DF   [0]  remote request\n  can0  12   [2]  11 22\n"
                          "  can0  124   [1]  11\n")
            << qint64(40);
        // More extended identifiers than are listed: those the first part leaves room for are
        // the second part's first.
        const int listed = int(kListedExtendedIds);
        QTest::newRow("extended identifiers past the listed")
            << extendedLines(0, listed / 2 + 100) + extendedLines(0, 50) +
                   extendedLines(quint32(listed), listed / 2 + 100)
            << qint64(extendedLines(0, listed / 2 + 100).size());
        QTest::newRow("more extended identifiers in the second part than are listed")
            << extendedLines(0, 10) + extendedLines(5, listed + 10) << qint64(100);
    }

    void twoThreadsReadAsOne()
    {
        QFETCH(QByteArray, content);
        QFETCH(qint64, splitNear);
        const QString path = write(QStringLiteral("split.log"), content);
        TallyThreads one;
        one.count = 1;
        TallyThreads two;
        two.leastSplitBytes = 0;
        two.splitNear = splitNear;
        for (const CutShort cutShort : {CutShort::Refused, CutShort::Read}) {
            const Tallied expected = tallied(path, one, cutShort);
            const Tallied seen = tallied(path, two, cutShort);
            QCOMPARE(seen.error, expected.error);
            QCOMPARE(seen.text, expected.text);
            QCOMPARE(seen.json, expected.json);
            QCOMPARE(seen.unreadable, expected.unreadable);
            QVERIFY(seen == expected);
        }
    }

    // Extended identifiers past the listed number are counted in one row.
    void tallyOfManyIdentifiers()
    {
        FilterTally tally;
        LogFrame frame;
        frame.extended = true;
        const int count = int(kListedExtendedIds) + 1000;
        for (int i = 0; i < count; ++i) {
            frame.id = quint32(i) * 7919u % 0x20000000u;
            tally.add(frame, i % 2 ? FrameVerdict::Passed : FrameVerdict::Blocked);
        }
        QCOMPARE(tally.extended.size(), kListedExtendedIds);
        QCOMPARE(tally.otherExtended.passed + tally.otherExtended.blocked, quint64(1000));
        QCOMPARE(tally.passed + tally.blocked, quint64(count));
        QVERIFY(filterTallyText(tally).contains(
            QStringLiteral("other extended identifiers passed 500 blocked 500 (those met after "
                           "65 536 others, counted together)")));
        QCOMPARE(filterTallyJson(tally)
                     .value(QStringLiteral("otherExtendedIdentifiers"))
                     .toObject()
                     .value(QStringLiteral("passed"))
                     .toInt(),
                 500);
    }
};

QTEST_GUILESS_MAIN(TestRecordings)
#include "tst_recordings.moc"
