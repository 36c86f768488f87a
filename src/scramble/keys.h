// The two fixed Triple-DES keys of the program, shared by the program and by the build tool
// that scrambles the stored texts. Changing either key invalidates every scrambled user string
// printed by earlier builds; the stored texts follow automatically at the next build.
#pragma once

#include <cstdint>

namespace rowflume {

// Key one: first half of every user-string unit, second half of every stored-text unit.
inline constexpr uint8_t kKeyOne[24] = {0xc2, 0x5c, 0xfc, 0x89, 0xf0, 0xfa, 0x68, 0x7a,
                                        0x6d, 0x8e, 0xa5, 0x7f, 0x7d, 0x6b, 0x42, 0x13,
                                        0x68, 0x33, 0xed, 0xef, 0x5c, 0x43, 0x02, 0xb3};

// Key two: second half of every user-string unit, first half of every stored-text unit.
inline constexpr uint8_t kKeyTwo[24] = {0x35, 0x7e, 0xb0, 0xd3, 0x1d, 0x5e, 0x42, 0x7b,
                                        0xdf, 0x53, 0x1d, 0xab, 0xba, 0x94, 0x87, 0x34,
                                        0xb4, 0x07, 0xbe, 0x77, 0x48, 0x40, 0xa2, 0xf8};

}  // namespace rowflume
