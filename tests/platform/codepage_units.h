// What the conversion to code page 932 makes of every UTF-16 code unit on its own, U+0000 to
// U+FFFF: the units that 932 cannot hold but that still become bytes other than '?' (their best
// fit), and a digest of the bytes of every unit. On Windows the conversion is the system's own:
// scripts/codepage-best-fit writes what it makes there into src/platform/codepage_best_fit.h,
// which the POSIX conversion compiles in, and the code page test holds both builds to that file.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codepage_best_fit.h"

namespace codepageunits {

struct EveryUnit {
    std::vector<platform::cp932::BestFit> bestFit; // sorted by unit
    std::uint64_t digest = 0;                      // FNV-1a of each unit's byte count and bytes, in order
};

EveryUnit everyUnit();

} // namespace codepageunits
