#include "core/documents/general_parameters.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/xml_document.h"

#include <QFileInfo>

namespace quillner {

namespace {

const QString kRoot = QStringLiteral("General_Parameter");

// Each field is read on its own: a fault in one leaves that field at its fallback only.
template <typename Apply> void readField(const QDomElement& root, const QString& name, Apply apply)
{
    try {
        apply(elementText(requireChild(root, name)));
    } catch (const Error&) {
    }
}

} // namespace

GeneralParameters loadGeneralParameters(const QString& path)
{
    GeneralParameters parameters;
    if (!QFileInfo::exists(path))
        return parameters;
    const QDomDocument document = loadXmlDocument(path);
    const QDomElement root = rootElement(document, kRoot);
    readField(root, QStringLiteral("Ser_Baud"),
              [&](const QString& t) { parameters.Ser_Baud = parseIntStrict(t); });
    readField(root, QStringLiteral("Ser_Par"),
              [&](const QString& t) { parameters.Ser_Par = parseIntStrict(t); });
    readField(root, QStringLiteral("Can_Type"),
              [&](const QString& t) { parameters.canTypeB = parseIntStrict(t) != 0; });
    readField(root, QStringLiteral("Can_Baud"),
              [&](const QString& t) { parameters.Can_Baud = parseIntStrict(t); });
    readField(root, QStringLiteral("Can_Enable_RTR"),
              [&](const QString& t) { parameters.Can_Enable_RTR = parseIntLenient(t, 0) == 1; });
    return parameters;
}

void saveGeneralParameters(const QString& path, const GeneralParameters& parameters)
{
    QDomDocument document;
    QDomElement root = appendElement(document, document, kRoot);
    appendTextElement(document, root, QStringLiteral("Ser_Baud"),
                      QString::number(parameters.Ser_Baud));
    appendTextElement(document, root, QStringLiteral("Ser_Par"),
                      QString::number(parameters.Ser_Par));
    appendTextElement(document, root, QStringLiteral("Can_Type"),
                      parameters.canTypeB ? QStringLiteral("1") : QStringLiteral("0"));
    appendTextElement(document, root, QStringLiteral("Can_Baud"),
                      QString::number(parameters.Can_Baud));
    appendTextElement(document, root, QStringLiteral("Can_Enable_RTR"),
                      parameters.Can_Enable_RTR ? QStringLiteral("1") : QStringLiteral("0"));
    saveXmlDocument(document, path);
}

int readCanTypeCode(const QString& path)
{
    if (!QFileInfo::exists(path))
        return 0;
    const QDomDocument document = loadXmlDocument(path);
    try {
        const QDomElement root = requireRoot(document, kRoot);
        return parseIntLenient(elementText(requireChild(root, QStringLiteral("Can_Type"))), 0);
    } catch (const Error&) {
        return 0;
    }
}

void saveTranslateTable(const QString& path)
{
    QDomDocument document;
    appendElement(document, document, QStringLiteral("TCP_TO_RTU"));
    saveXmlDocument(document, path);
}

} // namespace quillner
