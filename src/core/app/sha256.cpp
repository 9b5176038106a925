#include "core/app/sha256.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <algorithm>
#include <new>

namespace quillner {

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    if (!m_context || EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

void Sha256::add(QByteArrayView bytes)
{
    EVP_DigestUpdate(m_context, bytes.data(), size_t(bytes.size()));
}

QByteArray Sha256::hexResult()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context, digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

QByteArray sha256Hex(QByteArrayView bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.hexResult();
}

QByteArray sha256OfFile(const QString& path)
{
    const QFileInfo info(path);
    QFile file(path);
    if ((info.exists() && !info.isFile()) || !file.open(QIODevice::ReadOnly))
        throw Error(cannotOpenFileMessage(path, info.exists() && !info.isFile()
                                                    ? QStringLiteral("It is not a regular file")
                                                    : file.errorString()));
    Sha256 hash;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(block.data(), block.size());
        if (read < 0)
            throw Error(cannotReadFileMessage(path, file.errorString()));
        if (read == 0)
            break;
        hash.add(QByteArrayView(block.constData(), read));
    }
    return hash.hexResult();
}

HashingThread::HashingThread() : m_thread([this] { run(); }) {}

HashingThread::~HashingThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

HashingThread::Ticket HashingThread::add(Sha256& hash, QByteArrayView bytes)
{
    Ticket ticket = 0;
    {
        std::lock_guard lock(m_mutex);
        m_pieces.push_back({&hash, bytes});
        ticket = ++m_added;
    }
    m_changed.notify_all();
    return ticket;
}

HashingThread::Ticket HashingThread::lastTicket()
{
    std::lock_guard lock(m_mutex);
    return m_added;
}

void HashingThread::wait(Ticket ticket)
{
    std::unique_lock lock(m_mutex);
    const Ticket until = std::min(ticket, m_added);
    m_changed.wait(lock, [this, until] { return m_done >= until; });
}

void HashingThread::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        // What was handed over is hashed even when the end is asked for: its giver may wait.
        m_changed.wait(lock, [this] { return m_stopping || !m_pieces.empty(); });
        if (m_pieces.empty())
            return;
        const Piece piece = m_pieces.front();
        m_pieces.pop_front();
        lock.unlock();
        piece.hash->add(piece.bytes);
        lock.lock();
        ++m_done;
        m_changed.notify_all();
    }
}

} // namespace quillner
