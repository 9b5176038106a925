#pragma once

#include "core/device/configuration_bank.h"

#include <QList>

namespace quillner {

// The CAN 2.0B receive filter as the device reads it from bytes 10 to 13 and the filter words:
// no filter unless byte 10 says one is present; then an identifier list (byte 11 is 1),
// positive when byte 12 is 1, or mask patterns (byte 11 anything else); byte 13 counts the
// entries, of which the device reads at most kFilterWordCount identifiers or kMaxPatterns
// patterns. Every command and window that tells what a bank's 2.0B filter does reads it here.
struct BankFilter
{
    enum class Kind { None, List, Patterns };

    Kind kind = Kind::None;
    bool positive = false;         // a list's function: pass the listed identifiers, or the others
    QList<quint32> identifiers;    // the listed words, in the bank's order
    QList<StoredPattern> patterns; // the stored pairs, in the bank's order

    // Whether the device receives an extended data frame with this 29-bit identifier.
    bool passes(quint32 identifier) const;
    // Whether every extended frame passes: no filter, a negative list that names no 29-bit
    // identifier, or a pattern without a fixed bit.
    bool passesEveryExtendedFrame() const;

    friend bool operator==(const BankFilter&, const BankFilter&) = default;
};

// Bytes 10 to 13 as they are stored, for what shows or keeps their codes (a description, an
// import); what the device does with them is readBankFilter's to say.
struct BankFilterHeader
{
    quint8 present = 0;
    quint8 mode = 0;
    quint8 listFunction = 0;
    quint8 entryCount = 0;

    // How many filter words the stored entries take: one an identifier, two a pattern.
    int storedWords() const { return mode == 1 ? entryCount : 2 * entryCount; }
};

BankFilterHeader readBankFilterHeader(const ConfigurationBank& bank);
BankFilter readBankFilter(const ConfigurationBank& bank);

} // namespace quillner
