#include "core/documents/xml_document.h"

#include "core/app/file_io.h"
#include "core/app/project_output.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

namespace quillner {

namespace {

Result<QDomDocument> refused(const QString& text)
{
    return Result<QDomDocument>::failure({Problem{{}, {}, text}});
}

QString sourceLine(const QByteArray& content, int lineNumber)
{
    int line = 1;
    qsizetype start = 0;
    while (line < lineNumber) {
        const qsizetype next = content.indexOf('\n', start);
        if (next < 0)
            return {};
        start = next + 1;
        ++line;
    }
    qsizetype end = content.indexOf('\n', start);
    if (end < 0)
        end = content.size();
    QString text = QString::fromUtf8(content.mid(start, end - start));
    if (text.endsWith(u'\r'))
        text.chop(1);
    return text.left(40);
}

// Refuses what no project document holds before the DOM is built: a DOCTYPE (its entities could
// expand a few bytes into gigabytes or name files outside the project) and nesting deeper than
// kMaxDocumentDepth (the DOM's building time grows much faster than the depth). A document that
// is not well-formed is left to the DOM, which tells where.
// The refusal's text; empty for a document that may be built.
QString hostileStructure(const QByteArray& content)
{
    QXmlStreamReader scan(content);
    int depth = 0;
    while (!scan.atEnd()) {
        switch (scan.readNext()) {
        case QXmlStreamReader::DTD:
            return QStringLiteral("The document holds a DOCTYPE (line %1), which no project "
                                  "document has: it is not read")
                .arg(scan.lineNumber());
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxDocumentDepth) {
                return QStringLiteral("The document is nested deeper than %1 levels (line %2): "
                                      "it is not read")
                    .arg(kMaxDocumentDepth)
                    .arg(scan.lineNumber());
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return {};
}

QString tooLargeMessage(const QString& what, qint64 size)
{
    return QStringLiteral("%1 is larger than %2 bytes (%3 bytes): it is not read")
        .arg(what)
        .arg(kMaxDocumentSize)
        .arg(size);
}

} // namespace

Result<QDomDocument> parseXmlDocument(const QByteArray& content)
{
    if (content.size() > kMaxDocumentSize)
        return refused(tooLargeMessage(QStringLiteral("The document"), content.size()));
    if (const QString hostile = hostileStructure(content); !hostile.isEmpty())
        return refused(hostile);
    QDomDocument document;
    QString reason;
    int line = 0;
    int column = 0;
    if (!document.setContent(content, false, &reason, &line, &column)) {
        return refused(reason + u'\n' + QStringLiteral("Line: ") + QString::number(line) + u'\n' +
                       sourceLine(content, line));
    }
    return {document, {}, {}};
}

Result<QDomDocument> loadXmlDocument(const QString& path)
{
    // Looked at before opening: opening a FIFO waits for a writer, and a device such as
    // /dev/zero never ends.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        return refused(cannotOpenFileMessage(path, QStringLiteral("It is not a regular file")));
    }
    if (info.size() > kMaxDocumentSize)
        return refused(tooLargeMessage(QStringLiteral("\"%1\"").arg(path), info.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(cannotOpenFileMessage(path, file.errorString()));
    // Read no more than the cap allows, even if the file grew since it was looked at.
    const QByteArray content = file.read(kMaxDocumentSize + 1);
    if (file.error() != QFileDevice::NoError)
        return refused(cannotReadFileMessage(path, file.errorString()));
    return parseXmlDocument(content);
}

QDomElement rootElement(const QDomDocument& document, const QString& name)
{
    for (QDomNode node = document.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == name)
            return node.toElement();
    }
    return {};
}

QDomElement firstChild(const QDomElement& parent, const QString& name)
{
    if (parent.isNull())
        return {};
    return parent.firstChildElement(name);
}

int childCount(const QDomElement& parent)
{
    return parent.isNull() ? 0 : int(parent.childNodes().size());
}

QDomNode childAt(const QDomElement& parent, int position)
{
    return parent.childNodes().item(position);
}

Result<QString> elementText(const QDomNode& element)
{
    if (element.isNull())
        return Result<QString>::failure({Problem{{}, {}, QStringLiteral("Element not found")}});
    const QDomNodeList children = element.childNodes();
    if (children.isEmpty())
        return {};
    if (children.size() == 1) {
        const QDomNode only = children.item(0);
        if (only.isText() || only.isCDATASection())
            return {only.nodeValue(), {}, {}};
    }
    return Result<QString>::failure(
        {Problem{{}, {}, QStringLiteral("Element does not contain a single text node")}});
}

QDomElement appendElement(QDomDocument& document, QDomNode& parent, const QString& name)
{
    QDomElement element = document.createElement(name);
    parent.appendChild(element);
    return element;
}

QDomElement appendTextElement(QDomDocument& document, QDomNode& parent, const QString& name,
                              const QString& text)
{
    QDomElement element = appendElement(document, parent, name);
    if (!text.isEmpty())
        element.appendChild(document.createTextNode(text));
    return element;
}

QByteArray serializeXmlDocument(const QDomDocument& document)
{
    QByteArray data = document.toByteArray(-1);
    while (data.endsWith('\n') || data.endsWith('\r'))
        data.chop(1);
    return data + "\r\n";
}

void saveXmlDocument(const QDomDocument& document, const QString& path)
{
    // A document lives in its project folder: a link there would carry the write elsewhere.
    checkProjectOutput(QFileInfo(path).path(), path);
    writeFileAtomically(path, serializeXmlDocument(document));
}

} // namespace quillner
