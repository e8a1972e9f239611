#pragma once
// The fuzz targets' own check: it holds in every build (no NDEBUG can take it away) and
// ends the run with the failed condition, so libFuzzer records the input as a crash.
#include <cstdio>
#include <cstdlib>

#define ZV_FUZZ_CHECK(cond)                                                                   \
    do {                                                                                      \
        if (!(cond)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);     \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)

#include <string>

// A message as zv::Error's what() gives it back: up to its first NUL byte.
inline std::string Raised(const std::string& message) { return message.c_str(); }
