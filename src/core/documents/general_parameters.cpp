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
    GeneralParameters parameters;
    readField(document, settingElementName(Setting::SerialBaud),
              [&](const QString& t) { parameters.Ser_Baud = parseIntStrict(t); });
    readField(document, settingElementName(Setting::SerialParity),
              [&](const QString& t) { parameters.Ser_Par = parseIntStrict(t); });
    parameters.canTypeB = frameFormatShown(document) == FrameFormat::Extended;
    readField(document, settingElementName(Setting::CanBaud),
              [&](const QString& t) { parameters.Can_Baud = parseIntStrict(t); });
    readField(document, settingElementName(Setting::CanRtr),
              [&](const QString& t) { parameters.Can_Enable_RTR = parseIntLenient(t, 0) == 1; });
    return parameters;
}

GeneralParameters loadGeneralParameters(const QString& path)
{
    if (!QFileInfo::exists(path))
        return {};
    return generalParametersShown(wholeValue(readPargenDocument(path)));
}

namespace {

void saveGeneralParameterTexts(const QString& path, const GeneralParameterTexts& texts)
{
    QDomDocument document;
    QDomElement root = appendElement(document, document, pargen_names::kRoot);
    for (const Setting setting : allSettings())
        appendTextElement(document, root, settingElementName(setting), texts.text(setting));
    saveXmlDocument(document, path);
}

// Each text must be a strict integer, as the compiler takes it; the first that is not stops the
// reading with its element.
Result<GeneralParameterTexts> loadGeneralParameterTexts(const QString& path)
{
    Result<GeneralParameterTexts> loaded{generalParameterTexts({}), {}, {}};
    if (!QFileInfo::exists(path))
        return loaded;
    const Result<DocumentStructure> read = readPargenDocument(path);
    for (Problem problem : read.problems) {
        problem.file = QFileInfo(path).fileName();
        loaded.problems.append(problem);
    }
    if (!read.whole())
        return loaded;
    const DocumentStructure& document = read.value;
    DocumentReader reader(document);
    try {
        reader.requireRoot();
        for (const Setting setting : allSettings()) {
            const QString text = reader.text(settingElementName(setting));
            parseIntStrict(text);
            loaded.value.text(setting) = text;
        }
    } catch (const Error& error) {
        loaded.problems.append(reader.problem(error.message()));
    }
    return loaded;
}

} // namespace

qint32 GeneralParameterTexts::code(Setting setting) const
{
    return parseIntStrict(text(setting));
}

GeneralParameterTexts generalParameterTexts(const GeneralParameters& parameters)
{
    GeneralParameterTexts texts;
    for (const Setting setting : allSettings())
        texts.text(setting) = QString::number(settingCode(parameters, setting));
    return texts;
}

DocumentFormat<GeneralParameterTexts> generalParametersDocument()
{
    return {QStringLiteral("pargen.xml"), loadGeneralParameterTexts, saveGeneralParameterTexts};
}

void saveGeneralParameters(const QString& path, const GeneralParameters& parameters)
{
    saveGeneralParameterTexts(path, generalParameterTexts(parameters));
}

FrameFormat frameFormatShown(const DocumentStructure& document)
{
    FrameFormat format = FrameFormat::Standard;
    readField(document, settingElementName(Setting::CanFormat),
              [&](const QString& t) { format = frameFormatOfCode(parseIntStrict(t)); });
    return format;
}

FrameFormat readFrameFormat(const QString& path)
{
    if (!QFileInfo::exists(path))
        return FrameFormat::Standard;
    return frameFormatShown(wholeValue(readPargenDocument(path)));
}

int settingCode(const GeneralParameters& parameters, Setting setting)
{
    switch (setting) {
    case Setting::SerialBaud:
        return parameters.Ser_Baud;
    case Setting::SerialParity:
        return parameters.Ser_Par;
    case Setting::CanFormat:
        return parameters.canTypeB ? 1 : 0;
    case Setting::CanBaud:
        return parameters.Can_Baud;
    case Setting::CanRtr:
        return parameters.Can_Enable_RTR ? 1 : 0;
    }
    return 0;
}

void setSettingCode(GeneralParameters& parameters, Setting setting, int code)
{
    switch (setting) {
    case Setting::SerialBaud:
        parameters.Ser_Baud = code;
        break;
    case Setting::SerialParity:
        parameters.Ser_Par = code;
        break;
    case Setting::CanFormat:
        parameters.canTypeB = frameFormatOfCode(code) == FrameFormat::Extended;
        break;
    case Setting::CanBaud:
        parameters.Can_Baud = code;
        break;
    case Setting::CanRtr:
        parameters.Can_Enable_RTR = code != 0;
        break;
    }
}

std::pair<Setting, int> parseSettingAssignment(const QString& assignment)
{
    const qsizetype equals = assignment.indexOf(u'=');
    if (equals < 0)
        throw Error(QStringLiteral("'%1' is no KEY=VALUE; the keys are %2")
                        .arg(assignment, settingNamesText()));
    const Setting setting = wholeValue(requireSetting(assignment.left(equals)));
    return {setting, wholeValue(settingCodeOfValue(setting, assignment.mid(equals + 1)))};
}

GeneralParameters withSettings(GeneralParameters parameters, const QStringList& assignments)
{
    for (const QString& assignment : assignments) {
        const auto [setting, code] = parseSettingAssignment(assignment);
        setSettingCode(parameters, setting, code);
    }
    return parameters;
}

void saveTranslateTable(const QString& path)
{
    QDomDocument document;
    appendElement(document, document, translate_table_names::kRoot);
    saveXmlDocument(document, path);
}

} // namespace quillner
