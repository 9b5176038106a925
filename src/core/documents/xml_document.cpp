#include "core/documents/xml_document.h"

#include "core/app/error.h"
#include "core/app/file_io.h"

#include <QFile>

namespace quillner {

namespace {

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

} // namespace

QDomDocument parseXmlDocument(const QByteArray& content)
{
    QDomDocument document;
    QString reason;
    int line = 0;
    int column = 0;
    if (!document.setContent(content, false, &reason, &line, &column)) {
        throw Error(reason + u'\n' + QStringLiteral("Line: ") + QString::number(line) + u'\n' +
                    sourceLine(content, line));
    }
    return document;
}

QDomDocument loadXmlDocument(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    return parseXmlDocument(file.readAll());
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

QString elementText(const QDomNode& element)
{
    if (element.isNull())
        throw Error(QStringLiteral("Element not found"));
    const QDomNodeList children = element.childNodes();
    if (children.isEmpty())
        return {};
    if (children.size() == 1) {
        const QDomNode only = children.item(0);
        if (only.isText() || only.isCDATASection())
            return only.nodeValue();
    }
    throw Error(QStringLiteral("Element does not contain a single text node"));
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
    writeFileAtomically(path, serializeXmlDocument(document));
}

} // namespace quillner
