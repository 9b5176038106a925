#pragma once

#include "core/app/result.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

namespace quillner {

// A source of bytes read front to back, never sought: a regular file, a pipe or what gzip
// unpacks from one, so that a recording of any size or a live capture is read with the same
// memory.
class ByteStream
{
public:
    virtual ~ByteStream() = default;
    // Up to size bytes into data; 0 at the end, and from the read that fails on: then problems()
    // tells why. A reader looks once, when its stream has ended, never for each read.
    virtual qint64 read(char* data, qint64 size) = 0;
    // Why the stream ended before its end: it could not be read. Empty while it reads and at its
    // own end.
    virtual const Problems& problems() const { return m_problems; }
    // The bytes the stream holds when that is known (a regular file), else -1.
    virtual qint64 sizeHint() const { return -1; }
    // Whether the stream ended before its own end (gzip data without their end): what it gave
    // is whole, but the recording was cut short.
    virtual bool endedEarly() const { return false; }

protected:
    Problems m_problems;
};

// "-" is standard input. Only a regular file or a pipe is read: a device such as /dev/zero or a
// terminal never ends, and a folder holds no recording. A problem says why it cannot be read.
Result<std::unique_ptr<ByteStream>> openRecording(const QString& path);

// A regular file's bytes from position on, for a second reader of the same recording; a problem
// when it cannot be opened.
Result<std::unique_ptr<ByteStream>> openRecordingAt(const QString& path, qint64 position);

// The name a recording is told by: the file's name, or "standard input" for "-".
QString recordingName(const QString& path);

// A window on a stream: what was read and not yet taken lies at data(), at most capacity bytes.
class StreamBuffer : public ByteStream
{
public:
    StreamBuffer(std::unique_ptr<ByteStream> stream, qsizetype capacity);

    // Reads until at least count bytes (at most the capacity) lie at data(), or the stream ends;
    // returns what lies there. The memory taken grows to the capacity only as a stream needs it:
    // a small file is read into a small buffer.
    qsizetype fill(qsizetype count);
    const char* data() const { return m_buffer.constData() + m_start; }
    qsizetype available() const { return m_end - m_start; }
    qsizetype capacity() const { return m_capacity; }
    void consume(qsizetype count)
    {
        Q_ASSERT(count <= available());
        m_start += count;
        m_position += count;
    }
    // Whether the stream has ended (what lies at data() may still be taken).
    bool streamEnded() const { return m_ended; }
    // The bytes taken so far: the position of data() in the stream.
    qint64 position() const { return m_position; }
    // Makes the stream end at the position: what lies beyond it is another reader's.
    void endAt(qint64 position);

    // What lies at data() first, then the rest of the stream.
    qint64 read(char* data, qint64 size) override;
    bool endedEarly() const override { return m_stream->endedEarly(); }
    const Problems& problems() const override { return m_stream->problems(); }

private:
    std::unique_ptr<ByteStream> m_stream;
    QByteArray m_buffer;
    qsizetype m_capacity;
    qsizetype m_start = 0;
    qsizetype m_end = 0;
    qint64 m_position = 0;
    qint64 m_endPosition = -1; // where endAt makes the stream end; -1 at its own end
    bool m_ended = false;
};

// Whether the bytes begin as a gzip file does.
bool isGzip(const char* data, qsizetype size);

// The bytes a gzip stream holds, unpacked as they are read (members one after another are one
// stream, as gunzip gives them); data that end inside a member end the stream early. Data that
// are not gzip's end it with a problem naming the recording.
std::unique_ptr<ByteStream> gunzipStream(std::unique_ptr<ByteStream> stream, const QString& name);

} // namespace quillner
