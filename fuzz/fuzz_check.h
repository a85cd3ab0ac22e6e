#pragma once

#include <cstdio>
#include <cstdlib>

namespace meterlink {

// A broken promise of the code under test: report it and let libFuzzer keep the input.
inline void fuzzCheck(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

} // namespace meterlink
