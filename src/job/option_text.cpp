#include "job/option_text.h"

#include <cstring>

#include "common/ascii.h"

namespace rowflume {

int DecodeOptionText(const char* source, char* destination, int limit) {
  int source_length = static_cast<int>(std::strlen(source));
  int bound = limit < source_length ? limit : source_length;
  int in = 0;
  int out = 0;
  while (in < bound) {
    char c = source[in];
    if (c != '0') {
      destination[out++] = c;
      ++in;
      continue;
    }
    int rest = source_length - in - 1;  // characters after this "0"
    if (rest == 0) {
      ++out;  // position skipped: the caller's byte stays
      ++in;
    } else if (source[in + 1] != 'x' && source[in + 1] != 'X') {
      destination[out++] = source[in + 1];
      in += 2;
    } else if (rest >= 3) {
      destination[out++] =
          static_cast<char>(HexDigitValue(source[in + 2]) * 16 + HexDigitValue(source[in + 3]));
      in += 4;
    } else if (rest == 2) {
      destination[out++] = source[in + 2];
      in += 3;
    } else {
      ++out;  // "0x" at the very end: position skipped
      in += 2;
    }
  }
  destination[out] = '\0';
  return out;
}

KeywordValue SplitKeywordValue(const char* item) {
  KeywordValue split = {};
  int pos = 0;
  while (item[pos] != '\0' && IsAsciiSpace(item[pos])) ++pos;
  split.keyword_start = pos;
  while (item[pos] != '\0' && item[pos] != '=') ++pos;
  int keyword_end = pos;
  while (keyword_end > split.keyword_start && IsAsciiSpace(item[keyword_end - 1])) --keyword_end;
  split.keyword_length = keyword_end - split.keyword_start;
  if (item[pos] == '=') {
    ++pos;
    while (item[pos] != '\0' && IsAsciiSpace(item[pos])) ++pos;
  }
  split.value_start = pos;
  split.value_length = static_cast<int>(std::strlen(item + pos));
  return split;
}

int32_t ReadOptionNumber(const char* text, int length) {
  int pos = 0;
  while (pos < length && IsAsciiSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < length && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  int64_t magnitude = 0;
  for (; pos < length && IsAsciiDigit(text[pos]); ++pos) {
    if (magnitude <= INT32_MAX) magnitude = magnitude * 10 + (text[pos] - '0');
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool ValueBeginsWith(const char* value, int value_length, const char* word) {
  int word_length = static_cast<int>(std::strlen(word));
  return value_length >= word_length && EqualIgnoringCase(value, word, word_length);
}

}  // namespace rowflume
