#include "core/bank/bank_compiler.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/device/bank_filter.h"
#include "core/device/settings.h"
#include "core/documents/document_structure.h"

#include <QDir>
#include <QFileInfo>

#include <span>

namespace quillner {

namespace {

// The low 8 bits of an integer, computed on the unsigned value.
quint8 low8(qint32 value)
{
    return quint8(quint32(value) & 0xFFu);
}

qint32 integerOf(DocumentReader& reader, const QString& name)
{
    return parseIntStrict(reader.text(name));
}

qint32 childInteger(DocumentReader& reader, int position)
{
    return parseIntStrict(reader.childText(position));
}

// A path that names anything: a FIFO or a folder where a document belongs is a document that
// cannot be read (the loader says why), not one that was never saved.
bool fileExists(const QString& path)
{
    return QFileInfo::exists(path);
}

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

// Why a value is one no window writes, and what the device gets for it.
QString outsideChoicesText(Setting setting, qint32 value, quint8 byte)
{
    const QStringList values = settingValues(setting);
    const QString gets = bankByteText(setting, byte);
    if (values.size() == 2) {
        return QStringLiteral("%1 is neither 0 (%2) nor 1 (%3); the device gets %4")
            .arg(value)
            .arg(values[0], values[1], gets);
    }
    return QStringLiteral("%1 is not in the list (0 to %2); the device gets %3")
        .arg(value)
        .arg(values.size() - 1)
        .arg(gets);
}

// A failure met while a document's reader was at an element or a child, with that place.
struct PlacedFailure
{
    Problem problem;
};

// Runs the steps of one reading with its reader, so that a failure is told where it was met.
template <typename Steps> void atItsPlace(const DocumentReader& reader, Steps steps)
{
    try {
        steps();
    } catch (const Error& error) {
        throw PlacedFailure{reader.problem(error.message())};
    }
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
        m_result.value.fill(0);
        if (read(m_pargenPath, [this] { return readGeneralParameters(); })) {
            if (frameFormatOfBank(m_result.value) == FrameFormat::Standard)
                read(m_filter20APath, [this] { return readFilter20A(); });
            else {
                read(m_filter20BPath, [this] { return readFilter20B(); });
                warnWhenEveryExtendedFramePasses();
            }
        }
        return std::move(m_result);
    }

private:
    // Runs the reading of one document. A failure ends it and is noted with its file and, when
    // the reader had reached one, its element or child. False when the compile ends here.
    template <typename Reading> bool read(const QString& path, Reading reading)
    {
        try {
            return reading();
        } catch (const PlacedFailure& failure) {
            m_result.problems.append(failure.problem);
        } catch (const Error& error) {
            m_result.problems.append({fileName(path), {}, error.message()});
        }
        return false;
    }

    void warn(const QString& path, const QString& place, const QString& text)
    {
        m_result.warnings.append({fileName(path), place, text});
    }

    // Each value is stored before the next one is read: a later failure keeps the earlier ones.
    // A value the window would not have written is stored by the same rule and told as a
    // warning that names the setting and what the device gets. Without the document the bank
    // stays all zeros and no filter is read.
    bool readGeneralParameters()
    {
        // A folder without the general parameters is no project: its all-zero bank would make
        // the device useless, so it goes on only when the user chooses to.
        if (!fileExists(m_pargenPath)) {
            m_result.problems.append(
                {{},
                 {},
                 QStringLiteral("%1 is not a project: no %2; the device would get an all-zero "
                                "bank: 1200 bit/s, no parity, CAN 2.0A with CAN baud-rate code 0, "
                                "which no window sets, and every identifier hidden")
                     .arg(QDir::toNativeSeparators(QFileInfo(m_pargenPath).absolutePath()),
                          fileName(m_pargenPath))});
            return false;
        }
        const DocumentStructure document = wholeValue(readPargenDocument(m_pargenPath));
        DocumentReader reader(document);
        atItsPlace(reader, [&] {
            reader.requireRoot();
            for (const SettingDefinition& definition : settingDefinitions()) {
                const QString element = settingElementName(definition.setting);
                const qint32 value = integerOf(reader, element);
                const quint8 byte = definition.bankByteOfCode(value);
                m_result.value[definition.bankOffset] = byte;
                if (!isSettingCode(definition.setting, value))
                    warn(m_pargenPath, element,
                         outsideChoicesText(definition.setting, value, byte));
            }
        });
        return true;
    }

    // The bitmap is built apart and copied only when the whole document was read, so an
    // unreadable document leaves every identifier hidden.
    bool readFilter20A()
    {
        IdentifierBitmap bitmap{};
        if (!fileExists(m_filter20APath)) {
            warn(m_filter20APath, {},
                 QStringLiteral("not found (no 2.0A filter saved yet); the device lets every "
                                "identifier through"));
            bitmap.fill(0xFF);
        } else {
            const DocumentStructure document = wholeValue(readFilter20ADocument(m_filter20APath));
            DocumentReader reader(document);
            int count = 0;
            atItsPlace(reader, [&] {
                reader.requireRoot();
                count = reader.childCount();
                for (int i = 0; i < std::min(count, kStandardIdCount); ++i) {
                    if (childInteger(reader, i) == 1)
                        setBitmapVisible(bitmap.data(), i);
                }
            });
            if (count > kStandardIdCount) {
                warn(m_filter20APath, {},
                     QStringLiteral("%1 children after the first %2 ignored")
                         .arg(count - kStandardIdCount)
                         .arg(kStandardIdCount));
            }
        }
        storeBitmap(m_result.value, bitmap);
        return true;
    }

    // A filter the document gives, or what the compile made of it, that opens the gateway is said
    // in those words: the device reads the bank as readBankFilter does.
    void warnWhenEveryExtendedFramePasses()
    {
        if (!fileExists(m_filter20BPath) ||
            !readBankFilter(m_result.value).passesEveryExtendedFrame())
            return;
        warn(m_filter20BPath, {},
             QStringLiteral("the device lets every extended frame through with this filter"));
    }

    // A failure here ends only the reading of this document: what was read is still stored.
    bool readFilter20B()
    {
        if (!fileExists(m_filter20BPath)) {
            warn(m_filter20BPath, {},
                 QStringLiteral("not found (no 2.0B filter saved yet); the device gets no 2.0B "
                                "filter entries: every extended frame passes"));
            return true;
        }
        std::array<quint32, kFilterWordCount> words{};
        quint8 mode = 0;
        quint8 listFunction = 0;
        quint8 entryCount = 0;
        int wordsToCopy = 0;
        auto& bank = m_result.value;
        read(m_filter20BPath, [&] {
            using namespace filter20b_names;
            const DocumentStructure document = wholeValue(readFilter20BDocument(m_filter20BPath));
            DocumentReader reader(document);
            atItsPlace(reader, [&] {
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
                        warnIgnored(count - used, QStringLiteral("identifiers"), kFilterWordCount);
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
                        warnIgnored(count - used, QStringLiteral("patterns"), kMaxPatterns);
                }
            });
            return true;
        });
        for (int i = 0; i < wordsToCopy; ++i)
            setFilterWord(bank, i, words[i]);
        bank[kFilterModeOffset] = mode;
        bank[kListFunctionOffset] = listFunction;
        bank[kEntryCountOffset] = entryCount;
        return true;
    }

    void warnIgnored(int ignored, const QString& what, int kept)
    {
        warn(m_filter20BPath, {},
             QStringLiteral("%1 %2 after the first %3 ignored").arg(ignored).arg(what).arg(kept));
    }

    QString m_pargenPath;
    QString m_filter20APath;
    QString m_filter20BPath;
    CompiledBank m_result;
};

} // namespace

CompiledBank CompileBank(const QString& pargenPath, const QString& filter20APath,
                         const QString& filter20BPath)
{
    return BankCompiler(pargenPath, filter20APath, filter20BPath).compile();
}

} // namespace quillner

namespace quillner {

CompileOutcome compileOutcome(const CompiledBank& compiled)
{
    if (!compiled.problems.isEmpty())
        return CompileOutcome::Unreadable;
    return compiled.warnings.isEmpty() ? CompileOutcome::Clean : CompileOutcome::Warnings;
}

bool bankMayGoOn(const CompiledBank& compiled, bool goOnDespiteUnreadable)
{
    return goOnDespiteUnreadable || compileOutcome(compiled) != CompileOutcome::Unreadable;
}

QString goOnDespiteUnreadableQuestion(const CompiledBank& compiled)
{
    QString text = QStringLiteral(
        "Some project documents could not be read. The settings that were not read are zero in "
        "the bank:");
    for (const QString& line : problemLines(compiled.problems))
        text += QStringLiteral("\n- ") + line;
    if (!compiled.warnings.isEmpty()) {
        text += QStringLiteral("\n\nWarnings:");
        for (const QString& line : problemLines(compiled.warnings))
            text += QStringLiteral("\n- ") + line;
    }
    text += QStringLiteral("\n\nGo on and build the firmware with this bank?");
    return text;
}

} // namespace quillner
