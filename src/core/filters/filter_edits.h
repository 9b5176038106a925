#pragma once

#include "core/filters/filter20a.h"
#include "core/filters/filter20b.h"
#include "core/filters/filter_entries.h"
#include "core/filters/identifier_set.h"
#include "core/filters/pattern_fit.h"

#include <QStringList>

namespace quillner {

// Makes every identifier of the ranges visible, or hidden.
void setVisibility(Filter20A& filter, const QList<IdRange>& ranges, bool visible);
int visibleCount(const Filter20A& filter);
// "N of 2048 visible".
QString visibleCountText(int visible);

// What adding typed entries to a list made of it: the list with every entry that was taken, and
// whether the list was full when the adding stopped (the command line then names the limit). The
// refusal that stopped the adding is the result's one problem.
struct ListAddition
{
    QStringList entries;
    bool full = false;
};

// Adds the typed identifiers one by one, in the order typed, each as "ADD" adds one: a list that
// is full refuses with kAllFilterInUse, an identifier already listed with the duplicate message.
// Text that is one number is checked as "ADD" always checked it; other text is read in the
// identifier notation, whose error is the refusal.
Result<ListAddition> addCobIds(const QStringList& entries, QStringView typed, NumberBase base);

// Adds one typed pattern (29 characters or fewer, or "id:mask") as "ADD" adds one.
Result<ListAddition> addPattern(const QStringList& patterns, const QString& typed);

// The typed identifiers made the whole COB-ID list of the 2.0B filter, positive or negative.
// With the refusal that stopped the adding the filter is unchanged. Empty text is an empty list,
// as for the patterns: whether it may be written (it lets every extended frame through) is the
// caller's refuseOpenGateway to say.
Result<ListAddition> setCobIdList(Filter20B& filter, QStringView typed, bool positive);
// The refusal of a pattern typed with fewer than 29 symbols, which the window fills up with 0 in
// front: a command line takes no such guess, since a symbol left out shifts every bit after it.
// Empty for a full pattern and for the id:mask notation.
QString shortPatternRefusal(const QString& typed);
// The typed patterns, separated by commas, made the whole pattern list of the 2.0B filter; each
// has all 29 symbols (shortPatternRefusal) or is written id:mask. With the refusal of the first
// one that cannot be added the filter is unchanged.
Result<Done> setPatternList(Filter20B& filter, const QString& typed);

// The identifiers of the entries that are integers, as 29-bit values in list order.
QList<quint32> cobIdValues(const QStringList& entries);

// The 2.0B filter of a chosen form: the identifier list as a positive list of decimal entries,
// or the patterns, which keep the filter type of `settings`.
Filter20B filter20BOfForm(const FilterForm& form, const Filter20B& settings);

// "5 patterns for the 80 identifiers; extra identifiers passed: 12", the identifiers counted
// once each.
QString fitSummary(const PatternFit& fit, QList<quint32> identifiers);

// A warning when patterns fitted to a set of setSize identifiers pass almost every 29-bit
// identifier (nine in ten or more) that the set did not ask for: such a filter barely filters.
// It says the share. (A set the COB-ID list holds is fitted to the list, which passes nothing
// else.) Empty otherwise, also when the set itself is that broad.
QString broadPatternsWarning(const QList<IdPattern>& patterns, quint64 setSize);

} // namespace quillner
