#pragma once

// What every fuzz target shares: the bytes as the store hands them over, and a check that
// stops the run with a message libFuzzer keeps beside the input.
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The store keeps UTF-8 text and reads it back through QString::fromUtf8, invalid bytes
// included; the fuzzer's bytes take the same road.
inline QString storedText(const uint8_t* data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
