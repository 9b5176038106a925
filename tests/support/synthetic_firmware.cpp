#include "support/synthetic_firmware.h"

#include "core/device/srec_record.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QSaveFile>

namespace quillner {

namespace {

quint8 patternByte(quint32 address)
{
    return quint8((address ^ (address >> 8) ^ (address >> 16)) & 0xFF);
}

class BufferedWriter
{
public:
    explicit BufferedWriter(const QString& path) : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly))
            throw Error(cannotCreateFileMessage(path, m_file.errorString()));
        m_buffer.reserve(kBufferSize + 512);
    }

    void writeLine(const QByteArray& line)
    {
        m_buffer += line;
        m_buffer += "\r\n";
        if (m_buffer.size() >= kBufferSize)
            flush();
    }

    void commit()
    {
        flush();
        if (!m_file.commit())
            fail();
    }

private:
    static constexpr qsizetype kBufferSize = 1 << 20;

    void flush()
    {
        if (m_file.write(m_buffer) != m_buffer.size())
            fail();
        m_buffer.clear();
    }

    [[noreturn]] void fail()
    {
        const QString cause = m_file.errorString();
        m_file.cancelWriting();
        throw Error(cannotCreateFileMessage(m_file.fileName(), cause));
    }

    QSaveFile m_file;
    QByteArray m_buffer;
};

} // namespace

void writeSyntheticFirmware(const QString& path, quint32 firstAddress, quint64 endAddress,
                            int recordBytes, const QByteArray& header)
{
    if (recordBytes < 1 || recordBytes > 250)
        throw Error(QStringLiteral("A record holds 1 to 250 data bytes, not %1").arg(recordBytes));
    const char type = endAddress > 0x1000000u ? '3' : '2';
    BufferedWriter writer(path);
    writer.writeLine(formatSRecord('0', 0, header));
    QByteArray data(recordBytes, Qt::Uninitialized);
    for (quint64 address = firstAddress; address < endAddress; address += quint64(recordBytes)) {
        const int size = int(std::min<quint64>(quint64(recordBytes), endAddress - address));
        data.resize(size);
        for (int i = 0; i < size; ++i)
            data[i] = char(patternByte(quint32(address + quint64(i))));
        writer.writeLine(formatSRecord(type, quint32(address), data));
    }
    writer.writeLine(formatSRecord('9', 0, {}));
    writer.commit();
}

} // namespace quillner
