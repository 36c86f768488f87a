// The keyword parser: applies one keyword=value item to a job record, with the keyword table,
// the limits and clamps, and the application of the presets form, fast and text. How an item's
// text reads is job/option_text.h, the presets' items are job/option_presets.h; reading items
// from the command line or from files is the command-line module's business.
#pragma once

#include "job/job_record.h"
#include "job/option_text.h"  // the split and decoding the parser's users read items with

namespace rowflume {

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

}  // namespace rowflume
