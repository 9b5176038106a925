#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

struct evp_md_ctx_st;

namespace quillner {

// SHA-256 of bytes given piece by piece, as they are read or written, so that a file is hashed
// without reading it again. OpenSSL's implementation uses the processor's SHA instructions
// where there are any: a firmware of 40 MB is hashed in a few tens of milliseconds.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(QByteArrayView bytes);
    // The digest of everything added, in lower-case hexadecimal digits; ends the hashing.
    QByteArray hexResult();

private:
    evp_md_ctx_st* m_context;
};

// The SHA-256 of the bytes, in lower-case hexadecimal digits.
QByteArray sha256Hex(QByteArrayView bytes);

// The SHA-256 of a regular file's bytes, read piece by piece. Throws "Cannot open file "path".
// cause" (also for what is no regular file) or "Cannot read file "path". cause".
QByteArray sha256OfFile(const QString& path);

// Hashing beside other work: the pieces handed over are hashed on a thread of its own, each hash's
// pieces in the order given, while the giver goes on reading and writing. A piece's bytes must
// stay as they are until it is hashed (wait()), and a hash is not touched meanwhile.
class HashingThread
{
public:
    using Ticket = quint64;
    static constexpr Ticket kEverything = std::numeric_limits<Ticket>::max();

    HashingThread();
    // Waits for what was handed over, then ends the thread.
    ~HashingThread();
    HashingThread(const HashingThread&) = delete;
    HashingThread& operator=(const HashingThread&) = delete;

    // Hands over bytes to add to hash; the ticket tells when they are done.
    Ticket add(Sha256& hash, QByteArrayView bytes);
    // The ticket of the last piece handed over.
    Ticket lastTicket();
    // Returns once the pieces up to the ticket (by default, all) are hashed.
    void wait(Ticket ticket = kEverything);

private:
    struct Piece
    {
        Sha256* hash;
        QByteArrayView bytes;
    };

    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Piece> m_pieces;
    Ticket m_added = 0;
    Ticket m_done = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace quillner
