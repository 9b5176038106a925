#include "core/filters/filter20a.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/document_structure.h"
#include "core/documents/xml_document.h"

#include <QFileInfo>

namespace quillner {

Filter20ALoad filter20AShown(const DocumentStructure& document)
{
    Filter20ALoad result;
    DocumentReader reader(document);
    try {
        reader.requireRoot();
        const int used = std::min(reader.childCount(), kStandardIdCount);
        for (int id = 0; id < used; ++id) {
            if (parseIntStrict(reader.childText(id)) == 0)
                result.value.IdVisible[id] = 0;
        }
    } catch (const Error& error) {
        result.problems.append(reader.problem(error.message()));
    }
    return result;
}

Filter20ALoad loadFilter20A(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    const Result<DocumentStructure> read = readFilter20ADocument(path);
    if (read.whole())
        return filter20AShown(read.value);
    Filter20ALoad unread;
    for (Problem problem : read.problems) {
        problem.file = QFileInfo(path).fileName();
        unread.problems.append(problem);
    }
    return unread;
}

void saveFilter20A(const QString& path, const Filter20A& filter)
{
    QDomDocument document;
    QDomElement root = appendElement(document, document, filter20a_names::kRoot);
    const QString visible = QStringLiteral("1");
    const QString hidden = QStringLiteral("0");
    for (const quint8 entry : filter.IdVisible)
        appendTextElement(document, root, filter20a_names::kEntry, entry ? visible : hidden);
    saveXmlDocument(document, path);
}

DocumentFormat<Filter20A> filter20ADocument()
{
    return {QStringLiteral("Filter20A.xml"), loadFilter20A, saveFilter20A};
}

} // namespace quillner
