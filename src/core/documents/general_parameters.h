#pragma once

#include "core/device/settings.h"
#include "core/documents/project_edit.h"

#include <QString>
#include <QStringList>

#include <array>

namespace quillner {

// The general parameters of the device, as pargen.xml holds them. The list fields are indexes
// into the window's lists; -1 stands for a list without a selected entry.
struct GeneralParameters
{
    int Ser_Baud = settingDefaultCode(Setting::SerialBaud);  // 1200 ... 115200 bit/s
    int Ser_Par = settingDefaultCode(Setting::SerialParity); // None, Odd, Even
    // Can_Type: CAN 2.0B (29-bit identifiers) rather than 2.0A, as the device gets it.
    bool canTypeB = settingDefaultCode(Setting::CanFormat) != 0;
    int Can_Baud = settingDefaultCode(Setting::CanBaud); // 10 ... 1000 kbit/s
    bool Can_Enable_RTR = settingDefaultCode(Setting::CanRtr) != 0;

    friend bool operator==(const GeneralParameters&, const GeneralParameters&) = default;
};

struct DocumentStructure;

// What the general parameter window makes of pargen.xml: each field parsed strictly on its own,
// falling back to its default (Can_Enable_RTR: on only for the lenient integer 1; Can_Type: the
// frame format the device gets from it).
GeneralParameters generalParametersShown(const DocumentStructure& document);

// Reads pargen.xml. A missing file gives the defaults; a document that is not well-formed
// throws the parser's error; every other fault falls back field by field.
GeneralParameters loadGeneralParameters(const QString& path);

// Writes pargen.xml: General_Parameter with its five children, in order.
void saveGeneralParameters(const QString& path, const GeneralParameters& parameters);

// The CAN frame format the device gets from pargen.xml (frameFormatOfCode of the strict integer
// of Can_Type). Without the file, or with a Can_Type the compiler cannot read, the bank's byte
// stays 0: CAN 2.0A. A document that is not well-formed throws.
FrameFormat readFrameFormat(const QString& path);
FrameFormat frameFormatShown(const DocumentStructure& document);

// The setting's code as the parameters hold it, and the parameters with it changed.
int settingCode(const GeneralParameters& parameters, Setting setting);
void setSettingCode(GeneralParameters& parameters, Setting setting, int code);

// Applies "name=value" assignments in order. Throws at the first one that names no setting or
// gives a value outside its choices, before anything else happens, so that a caller that saves
// only after this call writes nothing on a refusal.
GeneralParameters withSettings(GeneralParameters parameters, const QStringList& assignments);

// One "name=value" assignment read: the setting and the code of its value. Throws as
// withSettings does.
std::pair<Setting, int> parseSettingAssignment(const QString& assignment);

// pargen.xml as it stands: the text of each setting's element, so that an edit of some settings
// leaves the others exactly as they were written.
struct GeneralParameterTexts
{
    std::array<QString, kSettingCount> texts; // in the order of allSettings()

    QString& text(Setting setting) { return texts[size_t(setting)]; }
    const QString& text(Setting setting) const { return texts[size_t(setting)]; }
    // The integer of the text; the texts are read only when all of them are integers.
    qint32 code(Setting setting) const;

    friend bool operator==(const GeneralParameterTexts&, const GeneralParameterTexts&) = default;
};

GeneralParameterTexts generalParameterTexts(const GeneralParameters& parameters);

// pargen.xml for an edit: the texts as the compiler reads them, every one a strict integer; a
// document the compiler cannot read is read with its problems (the first, with its element).
// Without the file, the defaults of a new project.
DocumentFormat<GeneralParameterTexts> generalParametersDocument();

// var.xml: the translate table, which holds nothing but its root.
void saveTranslateTable(const QString& path);

} // namespace quillner
