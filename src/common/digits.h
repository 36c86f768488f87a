// Decimal digits two at a time: the one table of "00" to "99" that every number and date writer
// of the program reads, so that a pair costs one look-up instead of a division and a remainder
// per digit.
#pragma once

#include <cstddef>

namespace rowflume {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The two digits of value, which is below 100: tens first. Not NUL-terminated.
constexpr const char* Digits2(size_t value) {
  return &kDigitPairs[2 * value];
}

}  // namespace rowflume
