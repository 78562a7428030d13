#pragma once
// A property that must hold for every input: when it does not, the harness says which and
// aborts, which libFuzzer reports as a crash and keeps the input that caused it.

#include <cstdio>
#include <cstdlib>

namespace q218::fuzz {

inline void Require(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

}  // namespace q218::fuzz
