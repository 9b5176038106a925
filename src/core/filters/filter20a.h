#pragma once

#include "core/app/problems.h"
#include "core/app/result.h"
#include "core/documents/project_edit.h"
#include "core/filters/filter_entries.h"

#include <QString>
#include <array>

namespace quillner {

// The CAN 2.0A receive filter as Filter20A.xml holds it: 1 for each visible identifier, 0 for
// each hidden one. A project without the document has every identifier visible.
struct Filter20A
{
    std::array<quint8, kStandardIdCount> IdVisible;

    Filter20A() { IdVisible.fill(1); }

    friend bool operator==(const Filter20A&, const Filter20A&) = default;
};

// A reading that can stop part-way: value holds what was read before the failure, and every
// identifier not reached stays visible. It meets one problem at most.
using Filter20ALoad = Result<Filter20A>;

struct DocumentStructure;

// Reads Filter20A.xml by position: child i holds identifier i, whatever its name; 0 hides it and
// any other integer shows it. Children past the 2048th are ignored. A missing file is no error;
// a document that is not well-formed or has no Filter20A root is read as absent, with its error;
// a child that is no integer stops the reading there, with the conversion error.
// The problem of a document that cannot be read at all names the file alone; the others name the
// element or child as well.
Filter20ALoad loadFilter20A(const QString& path);

// What the 2.0A window makes of a read Filter20A.xml, as described for loadFilter20A.
Filter20ALoad filter20AShown(const DocumentStructure& document);

// Writes Filter20A.xml: 2048 filter children, "1" or "0", in identifier order.
void saveFilter20A(const QString& path, const Filter20A& filter);

// Filter20A.xml for an edit, read and written as above.
DocumentFormat<Filter20A> filter20ADocument();

} // namespace quillner
