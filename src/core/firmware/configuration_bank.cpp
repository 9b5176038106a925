#include "core/firmware/configuration_bank.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/parameter_choices.h"
#include "core/documents/xml_document.h"

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

qint32 integerOf(const QDomNode& element)
{
    return parseIntStrict(elementText(element));
}

qint32 childInteger(const QDomElement& parent, const QString& name)
{
    return integerOf(requireChild(parent, name));
}

bool fileExists(const QString& path)
{
    return QFileInfo(path).isFile();
}

QDomDocument loadDocument(const QString& path)
{
    if (!fileExists(path))
        throw Error(QStringLiteral("File not found"));
    return loadXmlDocument(path);
}

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
    void note(const QString& text)
    {
        m_result.unreadable.append(QFileInfo(m_currentFile).fileName() + QStringLiteral(": ") +
                                   text);
    }

    // Each value is stored before the next one is read: a later failure keeps the earlier ones.
    void readGeneralParameters()
    {
        auto& bank = m_result.bank;
        const QDomDocument document = loadDocument(m_pargenPath);
        const QDomElement root = requireRoot(document, QStringLiteral("General_Parameter"));
        bank[kSerialBaudOffset] =
            serialBaudBankCode(childInteger(root, QStringLiteral("Ser_Baud")));
        bank[kParityOffset] = serialParityCode(childInteger(root, QStringLiteral("Ser_Par")));
        bank[kCanTypeOffset] = low8(childInteger(root, QStringLiteral("Can_Type")));
        bank[kCanBaudOffset] = canBaudBankCode(childInteger(root, QStringLiteral("Can_Baud")));
        bank[kRemoteFramesOffset] = low8(childInteger(root, QStringLiteral("Can_Enable_RTR")));
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
            const QDomDocument document = loadXmlDocument(m_filter20APath);
            const QDomElement root = requireRoot(document, QStringLiteral("Filter20A"));
            const QDomNodeList children = root.childNodes();
            const int count = childCount(root);
            const int used = std::min(count, kStandardIdCount);
            for (int i = 0; i < used; ++i) {
                if (integerOf(children.item(i)) == 1)
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
            const QDomDocument document = loadXmlDocument(m_filter20BPath);
            const QDomElement root = requireRoot(document, QStringLiteral("Filter20B"));
            mode = low8(childInteger(root, QStringLiteral("Type")));
            if (mode == 1) {
                listFunction = low8(childInteger(root, QStringLiteral("Type_Func")));
                const QDomElement filter = requireChild(root, QStringLiteral("Filter"));
                const int count = childCount(filter);
                entryCount = low8(count);
                wordsToCopy = std::min(int(entryCount), kFilterWordCount);
                const int used = std::min(count, kFilterWordCount);
                const QDomNodeList children = filter.childNodes();
                for (int i = 0; i < used; ++i) {
                    words[i] = quint32(integerOf(children.item(i)));
                    bank[kFilterPresentOffset] = 1;
                }
                if (count > used)
                    noteIgnored(count - used, QStringLiteral("identifiers"), kFilterWordCount);
            } else {
                const QDomElement filter = requireChild(root, QStringLiteral("Filter"));
                const int count = childCount(filter) / 2;
                entryCount = low8(count);
                wordsToCopy = std::min(2 * int(entryCount), 2 * kMaxPatterns);
                const int used = std::min(count, kMaxPatterns);
                const QDomNodeList children = filter.childNodes();
                for (int k = 0; k < used; ++k) {
                    words[2 * k] = quint32(integerOf(children.item(2 * k)));
                    words[2 * k + 1] = quint32(integerOf(children.item(2 * k + 1)));
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
