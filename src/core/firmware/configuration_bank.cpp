#include "core/firmware/configuration_bank.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/document_structure.h"
#include "core/documents/parameter_choices.h"

#include <QFileInfo>

namespace quillner {

namespace {

// The low 8 bits of an integer, computed on the unsigned value so that no sum can overflow.
quint8 low8(qint32 value)
{
    return quint8(quint32(value) & 0xFFu);
}

quint8 serialParityCode(qint32 value)
{
    return quint8(bankCodeOfIndex(kParityChoices, low8(value), 0));
}

qint32 integerOf(DocumentReader& reader, const QString& name)
{
    return parseIntStrict(reader.text(name));
}

qint32 childInteger(DocumentReader& reader, int position)
{
    return parseIntStrict(reader.childText(position));
}

bool fileExists(const QString& path)
{
    return QFileInfo(path).isFile();
}

// The compiler reads the documents through the same readers as the windows but interprets them
// its own way (generalParametersShown, filter20AShown and filter20BShown are the windows'): every
// value is a strict integer, a 2.0A identifier is set only by 1, and Type selects the list by its
// integer. These differences are deliberate and kept.
class BankCompiler
{
public:
    BankCompiler(const QString& pargenPath, const QString& filter20APath,
                 const QString& filter20BPath)
        : m_pargenPath(pargenPath), m_filter20APath(filter20APath), m_filter20BPath(filter20BPath)
    {
    }

    CompiledBank compile()
    {
        // The bank is zeroed first, so that whatever a failed compile did not reach stays zero.
        m_result.bank.fill(0);
        try {
            m_currentFile = m_pargenPath;
            readGeneralParameters();
            if (m_result.bank[kCanTypeOffset] == 0)
                readFilter20A();
            else
                readFilter20B();
        } catch (const Error& error) {
            note(error.message());
        }
        return std::move(m_result);
    }

private:
    // The user is told the file and the reason only, wherever in the file it was met.
    void note(const QString& text)
    {
        m_result.unreadable.append({QFileInfo(m_currentFile).fileName(), {}, text});
    }

    // Each value is stored before the next one is read: a later failure keeps the earlier ones.
    void readGeneralParameters()
    {
        using namespace pargen_names;
        auto& bank = m_result.bank;
        if (!fileExists(m_pargenPath))
            throw Error(QStringLiteral("File not found"));
        const DocumentStructure document = readPargenDocument(m_pargenPath);
        DocumentReader reader(document);
        reader.requireRoot();
        bank[kSerialBaudOffset] = serialBaudBankCode(integerOf(reader, kSerBaud));
        bank[kParityOffset] = serialParityCode(integerOf(reader, kSerPar));
        bank[kCanTypeOffset] = low8(integerOf(reader, kCanType));
        bank[kCanBaudOffset] = canBaudBankCode(integerOf(reader, kCanBaud));
        bank[kRemoteFramesOffset] = low8(integerOf(reader, kCanEnableRtr));
    }

    // The bitmap is built apart and copied only when the whole document was read, so an
    // unreadable document leaves every identifier hidden.
    void readFilter20A()
    {
        std::array<quint8, kBitmapBytes> bitmap{};
        if (!fileExists(m_filter20APath)) {
            bitmap.fill(0xFF);
        } else {
            m_currentFile = m_filter20APath;
            const DocumentStructure document = readFilter20ADocument(m_filter20APath);
            DocumentReader reader(document);
            reader.requireRoot();
            const int count = reader.childCount();
            const int used = std::min(count, kStandardIdCount);
            for (int i = 0; i < used; ++i) {
                if (childInteger(reader, i) == 1)
                    bitmap[i / 8] |= quint8(1u << (i % 8));
            }
            if (count > used) {
                note(QStringLiteral("%1 children after the first %2 ignored")
                         .arg(count - used)
                         .arg(kStandardIdCount));
            }
        }
        std::copy(bitmap.begin(), bitmap.end(), m_result.bank.begin() + kFilterAreaOffset);
    }

    void readFilter20B()
    {
        if (!fileExists(m_filter20BPath))
            return;
        m_currentFile = m_filter20BPath;
        std::array<quint32, kFilterWordCount> words{};
        quint8 mode = 0;
        quint8 listFunction = 0;
        quint8 entryCount = 0;
        int wordsToCopy = 0;
        auto& bank = m_result.bank;
        // A failure here ends only the reading of this document: what was read is still stored.
        try {
            using namespace filter20b_names;
            const DocumentStructure document = readFilter20BDocument(m_filter20BPath);
            DocumentReader reader(document);
            reader.requireRoot();
            mode = low8(integerOf(reader, kType));
            if (mode == 1) {
                listFunction = low8(integerOf(reader, kTypeFunc));
                reader.requireList();
                const int count = reader.childCount();
                entryCount = low8(count);
                wordsToCopy = std::min(int(entryCount), kFilterWordCount);
                const int used = std::min(count, kFilterWordCount);
                for (int i = 0; i < used; ++i) {
                    words[i] = quint32(childInteger(reader, i));
                    bank[kFilterPresentOffset] = 1;
                }
                if (count > used)
                    noteIgnored(count - used, QStringLiteral("identifiers"), kFilterWordCount);
            } else {
                reader.requireList();
                const int count = reader.childCount() / 2;
                entryCount = low8(count);
                wordsToCopy = std::min(2 * int(entryCount), 2 * kMaxPatterns);
                const int used = std::min(count, kMaxPatterns);
                for (int k = 0; k < used; ++k) {
                    words[2 * k] = quint32(childInteger(reader, 2 * k));
                    words[2 * k + 1] = quint32(childInteger(reader, 2 * k + 1));
                    bank[kFilterPresentOffset] = 1;
                }
                if (count > used)
                    noteIgnored(count - used, QStringLiteral("patterns"), kMaxPatterns);
            }
        } catch (const Error& error) {
            note(error.message());
        }
        for (int i = 0; i < wordsToCopy; ++i) {
            for (int b = 0; b < kFilterWordBytes; ++b)
                bank[kFilterAreaOffset + kFilterWordBytes * i + b] = quint8(words[i] >> (8 * b));
        }
        bank[kFilterModeOffset] = mode;
        bank[kListFunctionOffset] = listFunction;
        bank[kEntryCountOffset] = entryCount;
    }

    void noteIgnored(int ignored, const QString& what, int kept)
    {
        note(QStringLiteral("%1 %2 after the first %3 ignored").arg(ignored).arg(what).arg(kept));
    }

    QString m_pargenPath;
    QString m_filter20APath;
    QString m_filter20BPath;
    QString m_currentFile;
    CompiledBank m_result;
};

} // namespace

CompiledBank CompileBank(const QString& pargenPath, const QString& filter20APath,
                         const QString& filter20BPath)
{
    return BankCompiler(pargenPath, filter20APath, filter20BPath).compile();
}

} // namespace quillner
