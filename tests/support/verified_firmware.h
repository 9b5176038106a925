#pragma once

#include "core/firmware/firmware_verify.h"

namespace quillner::testing {

// Whether the check could read both firmwares and found the merged one to hold.
inline bool verifiedWhole(const Result<FirmwareVerification>& checked)
{
    return checked.whole() && checked.value.holds();
}

} // namespace quillner::testing
