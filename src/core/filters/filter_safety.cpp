#include "core/filters/filter_safety.h"

#include "core/app/int_parse.h"
#include "core/device/configuration_bank.h"
#include "core/filters/mask_pattern.h"

#include <algorithm>

namespace quillner {

namespace {

// A pattern as the compiler stores it passes every identifier when no bit of it is fixed.
bool passesEveryIdentifier(const QString& pattern)
{
    const StoredPattern stored{PatternNonZeroBits(pattern), PatternOneBits(pattern)};
    return stored.fixedBits() == 0;
}

// Whether the list entry is the identifier of a frame: an integer of at most 29 bits.
bool namesAnIdentifier(const QString& entry)
{
    const std::optional<qint32> value = tryParseInt(entry);
    return value && quint32(*value) <= kPatternBits;
}

} // namespace

bool opensTheGateway(const Filter20B& filter)
{
    if (filter.cobIdFilter) {
        if (filter.cobIds.isEmpty())
            return true;
        return !filter.typePositive &&
               std::none_of(filter.cobIds.begin(), filter.cobIds.end(), namesAnIdentifier);
    }
    return filter.patterns.isEmpty() ||
           std::any_of(filter.patterns.begin(), filter.patterns.end(), passesEveryIdentifier);
}

Result<bool> savedFilterOpensTheGateway(const QString& filter20BPath)
{
    const Filter20BLoad load = loadFilter20B(filter20BPath);
    if (!load.whole())
        return Result<bool>::failure(load.problems);
    return {!load.found || opensTheGateway(load.value), {}, {}};
}

QString openGatewayText(const Filter20B& filter)
{
    QString why;
    if (filter.cobIdFilter)
        why = filter.cobIds.isEmpty() ? QStringLiteral("The 2.0B COB-ID list is empty")
                                      : QStringLiteral("The negative 2.0B COB-ID list names no "
                                                       "29-bit identifier");
    else
        why = filter.patterns.isEmpty()
                  ? QStringLiteral("The 2.0B pattern list is empty")
                  : QStringLiteral("A 2.0B pattern fixes no bit (every position free)");
    return why + QStringLiteral(": the device would let every extended frame through");
}

Result<Done> refuseOpenGateway(const Filter20B& filter, bool allowAll)
{
    if (allowAll || !opensTheGateway(filter))
        return {};
    return Result<Done>::failure(
        {{{},
          {},
          openGatewayText(filter) +
              QStringLiteral("; nothing was written (--allow-all writes it on purpose)"),
          ProblemKind::Failure}});
}

} // namespace quillner
