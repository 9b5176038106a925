#include "core/filters/filter_safety.h"

#include "core/app/error.h"

namespace quillner {

bool opensTheGateway(const Filter20B& filter)
{
    return filter.cobIdFilter ? filter.cobIds.isEmpty() : filter.patterns.isEmpty();
}

void refuseOpenGateway(const Filter20B& filter, bool allowAll)
{
    if (allowAll || !opensTheGateway(filter))
        return;
    throw Error(QStringLiteral("%1 is empty: the device would let every extended frame through; "
                               "nothing was written (--allow-all writes it on purpose)")
                    .arg(filter.cobIdFilter ? QStringLiteral("The 2.0B COB-ID list")
                                            : QStringLiteral("The 2.0B pattern list")));
}

} // namespace quillner
