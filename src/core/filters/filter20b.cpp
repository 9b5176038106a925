#include "core/filters/filter20b.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/xml_document.h"
#include "core/filters/mask_pattern.h"

#include <QFileInfo>

namespace quillner {

namespace {

const QString kRoot = QStringLiteral("Filter20B");
const QString kOne = QStringLiteral("1");
const QString kZero = QStringLiteral("0");

QString flagText(bool on)
{
    return on ? kOne : kZero;
}

void readCobIds(const QDomElement& filter, QStringList& entries)
{
    for (QDomNode child = filter.firstChild(); !child.isNull(); child = child.nextSibling())
        entries.append(elementText(child));
}

void readPatterns(const QDomElement& filter, QStringList& patterns)
{
    // Only whole pairs are read, as the bank compiler reads them.
    for (QDomNode first = filter.firstChild(); !first.isNull();) {
        const QDomNode second = first.nextSibling();
        if (second.isNull())
            break;
        const quint32 nonZeroBits = quint32(parseIntStrict(elementText(first)));
        const quint32 oneBits = quint32(parseIntStrict(elementText(second)));
        patterns.append(BitsToPattern(nonZeroBits, oneBits));
        first = second.nextSibling();
    }
}

} // namespace

Filter20BLoad loadFilter20B(const QString& path, const Filter20B& settings)
{
    Filter20BLoad result;
    result.value.cobIdFilter = settings.cobIdFilter;
    result.value.typePositive = settings.typePositive;
    if (!QFileInfo::exists(path))
        return result;
    try {
        const QDomDocument document = loadXmlDocument(path);
        const QDomElement root = requireRoot(document, kRoot);
        const bool cobIdFilter = elementText(requireChild(root, QStringLiteral("Type"))) == kOne;
        std::optional<bool> typePositive;
        if (cobIdFilter)
            typePositive = elementText(requireChild(root, QStringLiteral("Type_Func"))) == kOne;
        const QDomElement filter = requireChild(root, QStringLiteral("Filter"));

        // Everything the settings depend on has been found: from here the document counts, even
        // when a list entry fails.
        result.found = true;
        result.value.cobIdFilter = cobIdFilter;
        if (typePositive)
            result.value.typePositive = *typePositive;
        if (cobIdFilter)
            readCobIds(filter, result.value.cobIds);
        else
            readPatterns(filter, result.value.patterns);
    } catch (const Error& error) {
        result.error = error.message();
    }
    return result;
}

void saveFilter20B(const QString& path, const Filter20B& filter)
{
    QDomDocument document;
    QDomElement root = appendElement(document, document, kRoot);
    appendTextElement(document, root, QStringLiteral("Type"), flagText(filter.cobIdFilter));
    appendTextElement(document, root, QStringLiteral("Type_Func"), flagText(filter.typePositive));
    const QStringList& entries = filter.cobIdFilter ? filter.cobIds : filter.patterns;
    appendTextElement(document, root, QStringLiteral("Num_Frame"), QString::number(entries.size()));
    QDomElement list = appendElement(document, root, QStringLiteral("Filter"));
    const QString data = QStringLiteral("data");
    for (const QString& entry : entries) {
        if (filter.cobIdFilter) {
            appendTextElement(document, list, data, entry);
        } else {
            appendTextElement(document, list, data, QString::number(PatternNonZeroBits(entry)));
            appendTextElement(document, list, data, QString::number(PatternOneBits(entry)));
        }
    }
    saveXmlDocument(document, path);
}

} // namespace quillner
