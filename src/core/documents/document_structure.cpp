#include "core/documents/document_structure.h"

#include "core/app/error.h"
#include "core/device/settings.h"
#include "core/documents/xml_document.h"

#include <QFileInfo>

namespace quillner {

namespace {

Problem missing(const QString& file, const QString& name)
{
    return {file, name, QStringLiteral("Element %1 not found").arg(name)};
}

// The place is named only when there is a problem: most documents have none, and a Filter20A.xml
// has 2048 children.
template <typename Place> ElementText textOf(const QString& file, Place place, const QDomNode& node)
{
    const Result<QString> text = elementText(node);
    if (text.whole())
        return {text.value, std::nullopt};
    return {{}, Problem{file, place(), text.problems.first().text}};
}

ElementText namedText(const QString& file, const QDomElement& root, const QString& name)
{
    const QDomElement element = firstChild(root, name);
    if (element.isNull())
        return {{}, missing(file, name)};
    return textOf(
        file, [&] { return name; }, element);
}

// Walked as siblings: looking each child up by position would make the reading quadratic.
QList<ElementText> childTexts(const QString& file, const QDomElement& parent)
{
    QList<ElementText> texts;
    int position = 0;
    for (QDomNode child = parent.firstChild(); !child.isNull();
         child = child.nextSibling(), ++position)
        texts.append(textOf(
            file, [position] { return childLocation(position); }, child));
    return texts;
}

// The document's root, with the named elements under it read.
QDomElement readRoot(DocumentStructure& structure, const QDomDocument& document,
                     const QString& rootName, const QStringList& names)
{
    const QDomElement root = rootElement(document, rootName);
    if (root.isNull())
        structure.rootFailure = missing(structure.file, rootName);
    for (const QString& name : names)
        structure.elements.insert(name, namedText(structure.file, root, name));
    return root;
}

} // namespace

const ElementText& DocumentStructure::element(const QString& name) const
{
    // Only a name the reader was not given can miss; it reads as an element without a text.
    static const ElementText notRead{{}, Problem{{}, {}, QStringLiteral("Element not found")}};
    const auto found = elements.constFind(name);
    Q_ASSERT(found != elements.cend());
    return found != elements.cend() ? *found : notRead;
}

QString childLocation(int position)
{
    return QStringLiteral("child %1").arg(position + 1);
}

namespace {

void throwIf(const std::optional<Problem>& failure, QString& place)
{
    if (failure) {
        place = failure->location;
        throw Error(failure->text);
    }
}

} // namespace

void DocumentReader::requireRoot()
{
    throwIf(m_document.rootFailure, m_place);
}

void DocumentReader::requireList()
{
    throwIf(m_document.listFailure, m_place);
}

QString DocumentReader::text(const QString& name)
{
    const ElementText& element = m_document.element(name);
    m_place = name;
    throwIf(element.failure, m_place);
    return element.text;
}

QString DocumentReader::childText(int position)
{
    const ElementText& child = m_document.children.at(position);
    m_place = childLocation(position);
    throwIf(child.failure, m_place);
    return child.text;
}

namespace {

// The document loaded and its structure read by `read`; what keeps it from loading is the
// problem, as the loading tells it.
template <typename Read> Result<DocumentStructure> readDocument(const QString& path, Read read)
{
    const Result<QDomDocument> document = loadXmlDocument(path);
    if (!document.whole())
        return Result<DocumentStructure>::failure(document.problems);
    DocumentStructure structure;
    structure.file = QFileInfo(path).fileName();
    read(structure, document.value);
    return {std::move(structure), {}, {}};
}

} // namespace

Result<DocumentStructure> readPargenDocument(const QString& path)
{
    return readDocument(path, [](DocumentStructure& structure, const QDomDocument& document) {
        QStringList elements;
        for (const Setting setting : allSettings())
            elements << settingElementName(setting);
        readRoot(structure, document, pargen_names::kRoot, elements);
    });
}

Result<DocumentStructure> readFilter20ADocument(const QString& path)
{
    return readDocument(path, [](DocumentStructure& structure, const QDomDocument& document) {
        const QDomElement root = readRoot(structure, document, filter20a_names::kRoot, {});
        structure.children = childTexts(structure.file, root);
    });
}

Result<DocumentStructure> readFilter20BDocument(const QString& path)
{
    return readDocument(path, [](DocumentStructure& structure, const QDomDocument& document) {
        using namespace filter20b_names;
        const QDomElement root = readRoot(structure, document, kRoot, {kType, kTypeFunc});
        const QDomElement list = firstChild(root, kFilter);
        if (list.isNull())
            structure.listFailure = missing(structure.file, kFilter);
        else
            structure.children = childTexts(structure.file, list);
    });
}

} // namespace quillner
