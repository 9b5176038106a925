#pragma once

#include "core/app/problems.h"
#include "core/app/result.h"
#include "core/device/bank_layout.h"

#include <QString>
#include <QStringView>

namespace quillner {

// How identifiers are written in the filter lists.
enum class NumberBase { Decimal, Hexadecimal };

inline constexpr int kCobIdListMax = 63;
inline constexpr int kPatternListMax = 10;

// Whether a list that holds listCount entries takes no more: "ADD" then refuses with
// kAllFilterInUse, before it looks at what was typed.
inline bool cobIdListFull(qsizetype listCount)
{
    return listCount >= kCobIdListMax;
}
inline bool patternListFull(qsizetype listCount)
{
    return listCount >= kPatternListMax;
}

inline constexpr auto kAllFilterInUse = "Error! All filter in use";
inline constexpr auto kCobIdOutOfRange =
    "Error! The value must be a integer from 0x00000000 to 0x1FFFFFFF";
inline constexpr auto kPatternTooLong = "Error! At max you have 29 bits";
// %1: the refused entry, in the form it would have been listed.
inline constexpr auto kCobIdDuplicate = "Error! The ID %1 is already in the list";

// An 11-bit identifier as the 2.0A lists show it: "0x" and four upper-case hexadecimal digits
// (0x0000 to 0x07FF), or the plain decimal number.
QString standardIdText(int id, NumberBase base);

// A COB-ID entry: the decimal number, or "$" and eight upper-case hexadecimal digits. The value
// is the entry's 32-bit integer, so that a hand-edited negative entry converts back unchanged.
QString cobIdText(qint32 value, NumberBase base);

// An entry rewritten in the given base; throws the conversion error for text that is no integer.
QString convertCobIdEntry(const QString& entry, NumberBase base);

// What "ADD" makes of the typed text: the entry to append, or the message that refuses it.
// The value is the entry, accepted when whole; otherwise its one problem is the refusal, with
// neither file nor place.
using EntryCheck = Result<QString>;

// The refusal's text; empty for an accepted entry.
QString refusalOf(const EntryCheck& check);

// A COB-ID for a list that holds listCount entries. The base of the typed text comes from its own
// prefix; the display base only chooses the form of the new entry.
EntryCheck checkCobIdEntry(int listCount, QStringView typed, NumberBase base);

// A mask pattern for a list that holds listCount patterns; the entry is the padded pattern,
// with 'X' kept as typed.
EntryCheck checkPatternEntry(int listCount, const QString& typed);

} // namespace quillner
