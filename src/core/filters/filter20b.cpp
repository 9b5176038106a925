#include "core/filters/filter20b.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/document_structure.h"
#include "core/documents/xml_document.h"
#include "core/filters/mask_pattern.h"

#include <QFileInfo>

namespace quillner {

namespace {

const QString kOne = QStringLiteral("1");
const QString kZero = QStringLiteral("0");

QString flagText(bool on)
{
    return on ? kOne : kZero;
}

// The settings without a document: the lists stay empty.
Filter20BLoad settingsOnly(const Filter20B& settings)
{
    Filter20BLoad result;
    result.value.cobIdFilter = settings.cobIdFilter;
    result.value.typePositive = settings.typePositive;
    return result;
}

void readCobIds(DocumentReader& reader, QStringList& entries)
{
    for (int i = 0; i < reader.childCount(); ++i)
        entries.append(reader.childText(i));
}

void readPatterns(DocumentReader& reader, QStringList& patterns)
{
    // Only whole pairs are read, as the bank compiler reads them.
    for (int first = 0; first + 1 < reader.childCount(); first += 2) {
        const quint32 nonZeroBits = quint32(parseIntStrict(reader.childText(first)));
        const quint32 oneBits = quint32(parseIntStrict(reader.childText(first + 1)));
        patterns.append(BitsToPattern(nonZeroBits, oneBits));
    }
}

} // namespace

Filter20BLoad filter20BShown(const DocumentStructure& document, const Filter20B& settings)
{
    using namespace filter20b_names;
    Filter20BLoad result = settingsOnly(settings);
    DocumentReader reader(document);
    try {
        reader.requireRoot();
        const bool cobIdFilter = reader.text(kType) == kOne;
        std::optional<bool> typePositive;
        if (cobIdFilter)
            typePositive = reader.text(kTypeFunc) == kOne;
        reader.requireList();

        // Everything the settings depend on has been found: from here the document counts, even
        // when a list entry fails.
        result.found = true;
        result.value.cobIdFilter = cobIdFilter;
        if (typePositive)
            result.value.typePositive = *typePositive;
        if (cobIdFilter)
            readCobIds(reader, result.value.cobIds);
        else
            readPatterns(reader, result.value.patterns);
    } catch (const Error& error) {
        result.problems.append(reader.problem(error.message()));
    }
    return result;
}

Filter20BLoad loadFilter20B(const QString& path, const Filter20B& settings)
{
    if (!QFileInfo::exists(path))
        return settingsOnly(settings);
    const Result<DocumentStructure> read = readFilter20BDocument(path);
    if (read.whole())
        return filter20BShown(read.value, settings);
    Filter20BLoad unread = settingsOnly(settings);
    for (Problem problem : read.problems) {
        problem.file = QFileInfo(path).fileName();
        unread.problems.append(problem);
    }
    return unread;
}

void saveFilter20B(const QString& path, const Filter20B& filter)
{
    using namespace filter20b_names;
    QDomDocument document;
    QDomElement root = appendElement(document, document, kRoot);
    appendTextElement(document, root, kType, flagText(filter.cobIdFilter));
    appendTextElement(document, root, kTypeFunc, flagText(filter.typePositive));
    const QStringList& entries = filter.cobIdFilter ? filter.cobIds : filter.patterns;
    appendTextElement(document, root, kNumFrame, QString::number(entries.size()));
    QDomElement list = appendElement(document, root, kFilter);
    for (const QString& entry : entries) {
        if (filter.cobIdFilter) {
            appendTextElement(document, list, kEntry, entry);
        } else {
            appendTextElement(document, list, kEntry, QString::number(PatternNonZeroBits(entry)));
            appendTextElement(document, list, kEntry, QString::number(PatternOneBits(entry)));
        }
    }
    saveXmlDocument(document, path);
}

DocumentFormat<Filter20B> filter20BDocument(const Filter20B& settings)
{
    return {QStringLiteral("Filter20B.xml"),
            [settings](const QString& path) -> Result<Filter20B> {
                return loadFilter20B(path, settings);
            },
            saveFilter20B};
}

} // namespace quillner
