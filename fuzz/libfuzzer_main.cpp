// A fuzz target for libFuzzer: FUZZ_BODY (one of targets.h) on each input. What the body finds
// wrong ends the run as a crash would, so that libFuzzer keeps the input.
#include <cstdio>
#include <cstdlib>

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string wrong = fuzz::FUZZ_BODY(data, size);
    if (!wrong.empty()) {
        std::fprintf(stderr, "\n%s: %s\n", FUZZ_NAME, wrong.c_str());
        std::abort();
    }
    return 0;
}
