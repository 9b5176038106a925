#include "core/documents/general_parameters.h"

#include "core/app/error.h"
#include "core/app/int_parse.h"
#include "core/documents/document_structure.h"
#include "core/documents/xml_document.h"

#include <QFileInfo>

namespace quillner {

namespace {

// Each field is read on its own: a fault in one leaves that field at its fallback only.
template <typename Apply>
void readField(const DocumentStructure& document, const QString& name, Apply apply)
{
    try {
        apply(DocumentReader(document).text(name));
    } catch (const Error&) {
    }
}

} // namespace

GeneralParameters generalParametersShown(const DocumentStructure& document)
{
    using namespace pargen_names;
    GeneralParameters parameters;
    readField(document, kSerBaud,
              [&](const QString& t) { parameters.Ser_Baud = parseIntStrict(t); });
    readField(document, kSerPar, [&](const QString& t) { parameters.Ser_Par = parseIntStrict(t); });
    readField(document, kCanType,
              [&](const QString& t) { parameters.canTypeB = parseIntStrict(t) != 0; });
    readField(document, kCanBaud,
              [&](const QString& t) { parameters.Can_Baud = parseIntStrict(t); });
    readField(document, kCanEnableRtr,
              [&](const QString& t) { parameters.Can_Enable_RTR = parseIntLenient(t, 0) == 1; });
    return parameters;
}

GeneralParameters loadGeneralParameters(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    return generalParametersShown(readPargenDocument(path));
}

void saveGeneralParameters(const QString& path, const GeneralParameters& parameters)
{
    using namespace pargen_names;
    QDomDocument document;
    QDomElement root = appendElement(document, document, kRoot);
    appendTextElement(document, root, kSerBaud, QString::number(parameters.Ser_Baud));
    appendTextElement(document, root, kSerPar, QString::number(parameters.Ser_Par));
    appendTextElement(document, root, kCanType,
                      parameters.canTypeB ? QStringLiteral("1") : QStringLiteral("0"));
    appendTextElement(document, root, kCanBaud, QString::number(parameters.Can_Baud));
    appendTextElement(document, root, kCanEnableRtr,
                      parameters.Can_Enable_RTR ? QStringLiteral("1") : QStringLiteral("0"));
    saveXmlDocument(document, path);
}

int canTypeCodeShown(const DocumentStructure& document)
{
    if (document.rootFailure)
        return 0;
    const ElementText& canType = document.element(pargen_names::kCanType);
    return canType.failure ? 0 : parseIntLenient(canType.text, 0);
}

int readCanTypeCode(const QString& path)
{
    if (!QFileInfo::exists(path))
        return 0;
    return canTypeCodeShown(readPargenDocument(path));
}

void saveTranslateTable(const QString& path)
{
    QDomDocument document;
    appendElement(document, document, translate_table_names::kRoot);
    saveXmlDocument(document, path);
}

} // namespace quillner
