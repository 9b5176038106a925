#pragma once

#include "core/app/result.h"

#include <QDomDocument>
#include <QDomElement>
#include <QString>

namespace quillner {

// What a project document may be: the real ones are a few kilobytes (a Filter20A.xml of 2048
// children about 40 KB) and three levels deep.
inline constexpr qint64 kMaxDocumentSize = 1024 * 1024;
inline constexpr int kMaxDocumentDepth = 16;

// Loads a project document. Whitespace-only text between elements is dropped. A document that
// is not well-formed is refused with the parser's reason, "Line: " and the line number, and the
// first 40 characters of that line, each on a line of its own; a file that cannot be opened or
// read with the system's reason. The problem names no file: the caller knows which it is. Only a
// regular file is read (a FIFO or a device is refused before it is opened); a document larger than
// kMaxDocumentSize, nested deeper than kMaxDocumentDepth or holding a DOCTYPE is refused before the
// DOM is built, so no entity is expanded and nothing outside the file is read.
Result<QDomDocument> loadXmlDocument(const QString& path);
Result<QDomDocument> parseXmlDocument(const QByteArray& content);

// The root element of that name (names compare case-sensitively); null when there is none.
QDomElement rootElement(const QDomDocument& document, const QString& name);

// The first direct child element of that name; null when there is none.
QDomElement firstChild(const QDomElement& parent, const QString& name);

// The direct child nodes of an element, by position.
int childCount(const QDomElement& parent);
QDomNode childAt(const QDomElement& parent, int position);

// The text of an element: empty without child nodes, the text of a lone text or CDATA child,
// otherwise the problem "Element does not contain a single text node". A null element is the
// problem "Element not found".
Result<QString> elementText(const QDomNode& element);

// A fresh document and elements for writers.
QDomElement appendElement(QDomDocument& document, QDomNode& parent, const QString& name);
QDomElement appendTextElement(QDomDocument& document, QDomNode& parent, const QString& name,
                              const QString& text);

// The compact form of a document: UTF-8, no declaration, no indentation, empty elements as
// <name/>, one CR LF after the root.
QByteArray serializeXmlDocument(const QDomDocument& document);

// Writes the document atomically as a regular file of its folder (a symbolic link in its place
// is refused, see checkProjectOutput); throws "Cannot create file ..." on failure.
void saveXmlDocument(const QDomDocument& document, const QString& path);

} // namespace quillner
