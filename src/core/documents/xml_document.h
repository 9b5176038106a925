#pragma once

#include <QDomDocument>
#include <QDomElement>
#include <QString>

namespace quillner {

// Loads a project document. Whitespace-only text between elements is dropped. A document that
// is not well-formed throws the parser's reason, "Line: " and the line number, and the first
// 40 characters of that line, each on a line of its own.
QDomDocument loadXmlDocument(const QString& path);
QDomDocument parseXmlDocument(const QByteArray& content);

// The root element of that name (names compare case-sensitively); null when there is none.
QDomElement rootElement(const QDomDocument& document, const QString& name);

// The first direct child element of that name; null when there is none.
QDomElement firstChild(const QDomElement& parent, const QString& name);

// The direct child nodes of an element, by position.
int childCount(const QDomElement& parent);
QDomNode childAt(const QDomElement& parent, int position);

// The text of an element: empty without child nodes, the text of a lone text or CDATA child,
// otherwise "Element does not contain a single text node". A null element throws as well.
QString elementText(const QDomNode& element);

// A fresh document and elements for writers.
QDomElement appendElement(QDomDocument& document, QDomNode& parent, const QString& name);
QDomElement appendTextElement(QDomDocument& document, QDomNode& parent, const QString& name,
                              const QString& text);

// The compact form of a document: UTF-8, no declaration, no indentation, empty elements as
// <name/>, one CR LF after the root.
QByteArray serializeXmlDocument(const QDomDocument& document);

// Writes the document atomically; throws "Cannot create file ..." on failure.
void saveXmlDocument(const QDomDocument& document, const QString& path);

} // namespace quillner
