#pragma once

#include <cstdio>
#include <cstdlib>

// A property every input must keep: a broken one ends the run as a crash would, so that
// libFuzzer saves the input.
inline void require(bool holds, const char *property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}
