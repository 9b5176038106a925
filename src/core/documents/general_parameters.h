#pragma once

#include <QString>

namespace quillner {

// The general parameters of the device, as pargen.xml holds them. The list fields are indexes
// into the window's lists; -1 stands for a list without a selected entry.
struct GeneralParameters
{
    int Ser_Baud = 7;      // 1200 ... 115200 bit/s
    int Ser_Par = 0;       // None, Odd, Even
    bool canTypeB = false; // Can_Type: CAN 2.0B (29-bit identifiers) rather than 2.0A
    int Can_Baud = 5;      // 10 ... 1000 kbit/s
    bool Can_Enable_RTR = false;

    friend bool operator==(const GeneralParameters&, const GeneralParameters&) = default;
};

struct DocumentStructure;

// What the general parameter window makes of pargen.xml: each field parsed strictly on its own,
// falling back to its default (Can_Enable_RTR: on only for the lenient integer 1).
GeneralParameters generalParametersShown(const DocumentStructure& document);

// Reads pargen.xml. A missing file gives the defaults; a document that is not well-formed
// throws the parser's error; every other fault falls back field by field.
GeneralParameters loadGeneralParameters(const QString& path);

// Writes pargen.xml: General_Parameter with its five children, in order.
void saveGeneralParameters(const QString& path, const GeneralParameters& parameters);

// The frame-format code that chooses the filter window: the lenient integer of Can_Type, 0 when
// the file, the element or a single text is missing. A document that is not well-formed throws.
int readCanTypeCode(const QString& path);
// The same code, from a document already read.
int canTypeCodeShown(const DocumentStructure& document);

// var.xml: the translate table, which holds nothing but its root.
void saveTranslateTable(const QString& path);

} // namespace quillner
