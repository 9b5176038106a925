#pragma once

#include "core/app/problems.h"
#include "core/app/result.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace quillner {

// The element names of each project document, for its readers and its writer alike.
namespace pargen_names {
// The five children are the settings' elements, in the order of allSettings().
inline const QString kRoot = QStringLiteral("General_Parameter");
} // namespace pargen_names

namespace translate_table_names {
inline const QString kRoot = QStringLiteral("TCP_TO_RTU"); // var.xml holds nothing else
} // namespace translate_table_names

namespace filter20a_names {
inline const QString kRoot = QStringLiteral("Filter20A");
inline const QString kEntry = QStringLiteral("filter"); // written so; read by position, any name
} // namespace filter20a_names

namespace filter20b_names {
inline const QString kRoot = QStringLiteral("Filter20B");
inline const QString kType = QStringLiteral("Type");
inline const QString kTypeFunc = QStringLiteral("Type_Func");
inline const QString kNumFrame = QStringLiteral("Num_Frame"); // written, never read back
inline const QString kFilter = QStringLiteral("Filter");
inline const QString kEntry = QStringLiteral("data"); // written so; read by position, any name
} // namespace filter20b_names

// The text of one element as the document holds it, or why it has none: the element is missing
// ("Element Type not found") or holds more than a single text ("Element does not contain a single
// text node").
struct ElementText
{
    QString text;
    std::optional<Problem> failure;
};

// A project document as written, before any reading of its values: what each reader of it
// interprets in its own way.
struct DocumentStructure
{
    QString file; // the file's name, for problems
    // The root element is missing ("Element Filter20B not found"); every element then fails.
    std::optional<Problem> rootFailure;
    // Each named element under the root, its text or its failure.
    QHash<QString, ElementText> elements;
    // The list element is missing (the list of a root that is itself the list never is).
    std::optional<Problem> listFailure;
    // The child nodes of the list element, by position, whatever their names.
    QList<ElementText> children;

    // The element's text or failure; the name must be one the document was read for.
    const ElementText& element(const QString& name) const;
};

// Each reader opens the document itself; a file that cannot be opened or that is not well-formed
// is the problem, which names no file (loadXmlDocument). Whether a missing file is an error is
// the caller's to say.
Result<DocumentStructure> readPargenDocument(const QString& path);    // its five elements
Result<DocumentStructure> readFilter20ADocument(const QString& path); // the children of the root
Result<DocumentStructure> readFilter20BDocument(const QString& path); // Type, Type_Func; Filter's

// Follows one interpretation through a document, so that whatever stops it is told with the place
// where it was met. Each step throws the failure of what it reads.
class DocumentReader
{
public:
    explicit DocumentReader(const DocumentStructure& document) : m_document(document) {}

    void requireRoot();
    void requireList();
    QString text(const QString& name);
    QString childText(int position);
    int childCount() const { return int(m_document.children.size()); }

    // The failure just thrown by a step, or by what was made of its text, at that step's place.
    Problem problem(const QString& text) const { return {m_document.file, m_place, text}; }

private:
    const DocumentStructure& m_document;
    QString m_place;
};

// The place of a child in problems: "child 1" is the first.
QString childLocation(int position);

} // namespace quillner
