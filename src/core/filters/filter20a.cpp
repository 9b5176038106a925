#include "core/filters/filter20a.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/xml_document.h"

#include <QFileInfo>

namespace quillner {

namespace {

const QString kRoot = QStringLiteral("Filter20A");

} // namespace

Filter20ALoad loadFilter20A(const QString& path)
{
    Filter20ALoad result;
    if (!QFileInfo::exists(path))
        return result;
    try {
        const QDomDocument document = loadXmlDocument(path);
        const QDomElement root = requireRoot(document, kRoot);
        // Walked as siblings: looking each child up by position would make the reading quadratic.
        int id = 0;
        for (QDomNode child = root.firstChild(); !child.isNull() && id < kStandardIdCount;
             child = child.nextSibling(), ++id) {
            if (parseIntStrict(elementText(child)) == 0)
                result.value.IdVisible[id] = 0;
        }
    } catch (const Error& error) {
        result.error = error.message();
    }
    return result;
}

void saveFilter20A(const QString& path, const Filter20A& filter)
{
    QDomDocument document;
    QDomElement root = appendElement(document, document, kRoot);
    const QString visible = QStringLiteral("1");
    const QString hidden = QStringLiteral("0");
    for (const quint8 entry : filter.IdVisible)
        appendTextElement(document, root, QStringLiteral("filter"), entry ? visible : hidden);
    saveXmlDocument(document, path);
}

} // namespace quillner
