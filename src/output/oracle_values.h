// The text of an Oracle NUMBER or DATE from its internal bytes, as the encoder writes it under
// client=yes: pure functions of the bytes, with no buffer, option or column of their own.
#pragma once

#include <cstdint>

namespace rowflume {

constexpr int kNumberTextBytes = 256;  // scratch for FormatOracleNumber; the longest text is 171
constexpr int kDateTextBytes = 20;     // 19 characters and a NUL

// Decimal text of an Oracle internal NUMBER; fractions are written in whole base-100 pairs
// (12.5 gives 12.50). dest holds kNumberTextBytes. Returns characters written, 0 for no bytes.
int FormatOracleNumber(char* dest, const uint8_t* value, int length);
// "YYYY-MM-DD HH:MI:SS" of an Oracle internal 7-byte DATE; 0 when fewer than 7 bytes.
int FormatOracleDate(char* dest, const uint8_t* value, int length);

}  // namespace rowflume
