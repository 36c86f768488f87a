// The keyword parser: applies one keyword=value item to a job record, with the keyword table,
// the value decoding of byte codes, the limits and clamps, and the presets form, fast and text.
// Reading items from the command line or from files is the command-line module's business.
#pragma once

#include "common/ascii.h"  // HexDigitValue, which option texts decode with
#include "job/job_record.h"

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

// The keywords SetOption knows, in the order of its table; null past the last.
const char* KeywordAt(size_t index);

// True when the item's keyword is one SetOption knows.
bool IsKnownKeyword(const char* item);

// Applies one item. Returns 1 when the keyword is known (even when its value is then ignored,
// as an unknown text preset), 0 when it is not; the record changes only for a known keyword.
// Numbers are clamped without a message. A text longer than its option's limit is stored cut and
// marked in job->cut_options; a later value that fits clears the mark. The value of a decoded
// text option (field, record, null, ...) that is white space only is that white space itself.
// A layout preset (text=NAME with a known NAME, form=YES) first sets back to their defaults the
// layout options an earlier preset set and no item has set since, then applies its items: the
// layout is the last preset's, with the options the user gave kept unless it sets them.
int SetOption(UnloadHandle* job, const char* item);

// True when the item is a decoded text option's keyword, "=" and white space only: SetOption
// takes that white space as the value, so a reader must keep it.
bool IsLiteralBlankItem(const char* item);

// The keyword of the first option holding a cut value, with its limit (characters, or input
// characters of a decoded text) in *limit; null when every value fits.
const char* FirstCutOption(const UnloadHandle* job, int* limit);

// Decodes source into destination, where "0x" with two hex digits stands for a byte, "0c" for
// the character c, and a "0" (or "0x") at the very end of the source skips one output position
// without writing it. Codes starting before min(limit, strlen(source)) are decoded whole.
// Writes a NUL after the last output position and returns the count of output positions,
// skipped ones included; that count never exceeds the bound, so destination needs bound + 1
// bytes.
int DecodeOptionText(const char* source, char* destination, int limit);

}  // namespace rowflume
