// The items of the presets: the output layouts (text=NAME, form=YES), the session tuning
// (fast=YES), and the layout options those layouts may set. Data only: applying a preset, and
// undoing the layout of an earlier one, is the keyword parser's business (job/options.h).
#pragma once

#include <iterator>

#include "job/job_record.h"

namespace rowflume {

inline constexpr const char* kFormItems[] = {"COLSEP=0x20:0x20", "FIELD=0x0a", "RECORD=0x0a0x0a",
                                             "FILE=-"};
inline constexpr const char* kFastItems[] = {"READ=128", "HASH=128", "SORT=128", "ARRAY=2000",
                                             "SERIAL=YES"};

struct TextPreset {
  const char* name;
  const char* items[9];  // applied in this order; the list ends at the first null
};

inline constexpr TextPreset kTextPresets[] = {
    {"MYSQL",
     {"ESCAPE=0x5c", "FIELD=0x2c", "RECORD=0x0a", "ESCF=0x0d0x0a0x220x27", "ESCT=rn0x220x27",
      "NULL=0x5cN", "QUOTE=0x22"}},
    {"CSV", {"ESCAPE=0x22", "FIELD=0x2c", "RECORD=0x0a", "QUOTE=0x22", "HEAD=YES"}},
    {"MYSQLINS",
     {"ESCAPE=0x5c", "FIELD=0x2c", "RECORD=0x0a", "ESCF=0x0d0x0a0x220x27", "ESCT=rn0x220x27",
      "NULL=null", "QUOTE=0x27", "FORMAT=mysql", "FILE=-"}},
    {"ORACLEINS",
     {"ESCAPE=0x27", "FIELD=0x2c", "RECORD=0x0a", "NULL=null", "QUOTE=0x27", "FORMAT=SQL",
      "FILE=-"}},
    {"FORM", {"COLSEP=0x20:0x20", "FIELD=0x0a", "RECORD=0x0a0x0a", "NULL=(null)", "FILE=-"}},
    {"PARQUET", {"FORMAT=PARQUET"}},
    {"SEARCH",
     {"COLSEP==", "FIELD=0x010x0a", "RECORD=0x010x0a", "ROWPRE=<DOC>0x010x0a",
      "ROWSUF=0x010x0a</DOC>"}},
};

// The options the layout presets (text=NAME, form=YES) set, one bit each in preset_options: the
// bit is set when a preset gave the option its value, and cleared when an item of the user's did.
inline constexpr const char* kLayoutOptions[] = {"escape", "field",  "record", "escf",   "esct",
                                                 "null",   "quote",  "head",   "format", "file",
                                                 "colsep", "rowpre", "rowsuf"};
static_assert(std::size(kLayoutOptions) <= 8 * sizeof(UnloadHandle::preset_options),
              "a layout option lies beyond the preset marks");

}  // namespace rowflume
