#pragma once

#include "core/app/problems.h"
#include "core/app/result.h"
#include "core/documents/project_edit.h"

#include <QString>
#include <QStringList>

namespace quillner {

// The CAN 2.0B receive filter: a list of up to 63 identifiers with a filter type, or a list of
// up to 10 mask patterns. A document stores the list of its mode only.
struct Filter20B
{
    bool cobIdFilter = true;  // Type: "1" the identifier list, "0" the mask patterns
    bool typePositive = true; // Type_Func: "1" "Type Positive", "0" "Type Negative"
    QStringList cobIds;       // entries as shown: 123 or $0000007B
    QStringList patterns;     // 29 characters of '1', '0', 'x', 'X'

    friend bool operator==(const Filter20B&, const Filter20B&) = default;
};

// The value is the settings passed in, with what the document carries put over them; the lists
// come from the document alone. It meets one problem at most.
struct Filter20BLoad : Result<Filter20B>
{
    // A document set the mode and its list (perhaps only partly, see the problems).
    bool found = false;
};

struct DocumentStructure;

// Reads Filter20B.xml. The mode is the COB-ID list when Type is exactly "1". The list mode takes
// Type_Func ("1" positive) and the text of every child of Filter, unchecked; the mask mode keeps
// the filter type of `settings` and decodes the children of Filter in pairs, an odd last one
// ignored. A missing file is no error. A document that is not well-formed, or that lacks
// Filter20B, Type, Filter or (list mode) Type_Func, is read as absent, with its error. A mask
// value that is no integer stops the reading with the conversion error, keeping the patterns
// decoded before it.
// The problem of a document that cannot be read at all names the file alone; the others name the
// element or child as well.
Filter20BLoad loadFilter20B(const QString& path, const Filter20B& settings = {});

// What the 2.0B window makes of a read Filter20B.xml, as described for loadFilter20B.
Filter20BLoad filter20BShown(const DocumentStructure& document, const Filter20B& settings);

// Writes Filter20B.xml: Type, Type_Func, Num_Frame (the number of entries) and Filter with the
// list of the chosen mode, a pattern as its two values.
void saveFilter20B(const QString& path, const Filter20B& filter);

// Filter20B.xml for an edit, read over `settings` and written as above.
DocumentFormat<Filter20B> filter20BDocument(const Filter20B& settings = {});

} // namespace quillner
