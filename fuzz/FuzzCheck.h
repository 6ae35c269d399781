#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property of a fuzz target: say which, and stop so the fuzzer keeps the input.
inline void fuzzCheck(bool ok, const char* what)
{
    if (ok)
        return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}
