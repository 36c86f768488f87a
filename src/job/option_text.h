// How an option item's text reads: the split into keyword and value, the byte codes of decoded
// texts, and the decimal numbers of number options. Nothing here knows a keyword; which option
// takes which reading is the keyword parser's business (job/options.h).
#pragma once

#include <cstdint>

#include "common/ascii.h"  // HexDigitValue, which option texts decode with

namespace rowflume {

// Where the keyword and the value lie inside an item (offsets from the item's start).
struct KeywordValue {
  int keyword_start;
  int keyword_length;  // leading and trailing white space excluded
  int value_start;
  int value_length;  // to the end of the item; trailing white space is part of the value
};

// Splits "keyword = value". An item without "=" is all keyword with an empty value.
KeywordValue SplitKeywordValue(const char* item);

// Decodes source into destination, where "0x" with two hex digits stands for a byte, "0c" for
// the character c, and a "0" (or "0x") at the very end of the source skips one output position
// without writing it. Codes starting before min(limit, strlen(source)) are decoded whole.
// Writes a NUL after the last output position and returns the count of output positions,
// skipped ones included; that count never exceeds the bound, so destination needs bound + 1
// bytes.
int DecodeOptionText(const char* source, char* destination, int limit);

// Reads a decimal number as atoi does (leading white space, a sign, digits up to the first
// other character), looking at no more than length characters. Values beyond the 32-bit range
// saturate instead of overflowing.
int32_t ReadOptionNumber(const char* text, int length);

// True when the value (of value_length characters) begins with word, letter case ignored.
bool ValueBeginsWith(const char* value, int value_length, const char* word);

}  // namespace rowflume
