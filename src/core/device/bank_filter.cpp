#include "core/device/bank_filter.h"

#include <algorithm>

namespace quillner {

bool BankFilter::passes(quint32 identifier) const
{
    switch (kind) {
    case Kind::None:
        return true;
    case Kind::List:
        return identifiers.contains(identifier) == positive;
    case Kind::Patterns:
        return std::any_of(patterns.begin(), patterns.end(), [&](const StoredPattern& pattern) {
            return pattern.passes(identifier);
        });
    }
    return false;
}

bool BankFilter::passesEveryExtendedFrame() const
{
    switch (kind) {
    case Kind::None:
        return true;
    case Kind::List:
        // A word above 29 bits is the identifier of no frame.
        return !positive && std::none_of(identifiers.begin(), identifiers.end(),
                                         [](quint32 word) { return word <= kPatternBits; });
    case Kind::Patterns:
        return std::any_of(patterns.begin(), patterns.end(),
                           [](const StoredPattern& pattern) { return pattern.fixedBits() == 0; });
    }
    return false;
}

BankFilterHeader readBankFilterHeader(const ConfigurationBank& bank)
{
    return {bank[kFilterPresentOffset], bank[kFilterModeOffset], bank[kListFunctionOffset],
            bank[kEntryCountOffset]};
}

BankFilter readBankFilter(const ConfigurationBank& bank)
{
    BankFilter filter;
    const BankFilterHeader header = readBankFilterHeader(bank);
    if (header.present == 0)
        return filter;
    const int count = header.entryCount;
    if (header.mode == 1) {
        filter.kind = BankFilter::Kind::List;
        filter.positive = header.listFunction == 1;
        for (int i = 0; i < std::min(count, kFilterWordCount); ++i)
            filter.identifiers.append(filterWord(bank, i));
    } else {
        filter.kind = BankFilter::Kind::Patterns;
        for (int k = 0; k < std::min(count, kMaxPatterns); ++k)
            filter.patterns.append(storedPattern(bank, k));
    }
    return filter;
}

} // namespace quillner
