#pragma once

#include "core/filters/id_pattern.h"

namespace quillner {

// The first way of fitting, kept as one member of the fitting portfolio: when some cover of at
// most maxPatterns patterns passes nothing but the set, one of the smallest such covers (the
// prime patterns of the set are built by merging patterns that differ in one bit, and a smallest
// cover of them is searched); when none exists, or the search is too large to finish, the set is
// split from the top into patterns so that few extra identifiers pass.
QList<IdPattern> primeCoverOrSplit(const IdPatternSet& set, int maxPatterns);

} // namespace quillner
