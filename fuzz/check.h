#pragma once
// A failed invariant stops the fuzzer with the condition that failed; libFuzzer
// then saves the input that caused it.
#include <cstdio>
#include <cstdlib>

#define CHECK(cond)                                                                                                    \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                              \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)
