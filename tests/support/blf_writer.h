#pragma once

#include <QByteArray>
#include <QIODevice>

#include <optional>

namespace quillner::testing {

// Vector BLF files written the way the format lays them out, for tests and benchmarks: the
// corner cases of a reader (objects split between containers, header versions, sizes that lie)
// are made here by name rather than kept as opaque files.

struct BlfObject
{
    quint32 type = 1;
    int headerVersion = 1; // 1: 32-byte header; 2: 40 bytes
    QByteArray fields;     // what follows the header
    quint64 timestamp = 0; // nanoseconds
    // Sizes written in place of the true ones, to make damaged objects.
    std::optional<quint32> size;
    std::optional<quint16> headerSize;
};

// The object's bytes, with the padding of its size modulo 4 after it.
QByteArray blfObject(const BlfObject& object);

// A classic CAN message (type 1, or 86 for CAN_MESSAGE2).
QByteArray blfCanMessage(quint32 id, bool extended, const QByteArray& data, bool remote = false,
                         int headerVersion = 1, quint32 type = 1, quint64 timestamp = 0);
// A CAN FD message (type 100); with edl clear it carries a classic frame.
QByteArray blfCanFdMessage(quint32 id, bool extended, const QByteArray& data, bool edl = true,
                           bool remote = false, int headerVersion = 1);
// A 64-byte CAN FD message (type 101).
QByteArray blfCanFdMessage64(quint32 id, bool extended, const QByteArray& data, bool edl = true,
                             bool remote = false, int headerVersion = 2);
// An extended error frame (type 73).
QByteArray blfErrorFrame(int headerVersion = 1);

// The file header ("LOGG", 144 bytes).
QByteArray blfFileHeader();
// One log container holding the bytes, zlib-compressed or stored.
QByteArray blfContainer(const QByteArray& objects, bool compressed = true);
// One zlib-compressed log container of the objects `repeats` times over that declares
// `declaredSize` unpacked bytes: many megabytes made without holding them, to make a container
// that unpacks to more than it says.
QByteArray blfRepeatingContainer(const QByteArray& objects, int repeats, quint32 declaredSize);

// Writes a BLF file: its header, then the objects added, cut into containers of at most
// containerBytes of object data; an object that crosses a cut goes on in the next container.
class BlfWriter
{
public:
    BlfWriter(QIODevice& device, qsizetype containerBytes = 128 << 10, bool compressed = true);
    void add(const QByteArray& objectBytes);
    // Writes what remains in a last container.
    void finish();

private:
    void writeContainer(qsizetype bytes);

    QIODevice& m_device;
    qsizetype m_containerBytes;
    bool m_compressed;
    QByteArray m_pending;
};

// The whole file of the objects, as BlfWriter makes it.
QByteArray blfFile(const QByteArray& objects, qsizetype containerBytes = 128 << 10,
                   bool compressed = true);

} // namespace quillner::testing
