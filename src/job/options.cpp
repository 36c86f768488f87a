#include "job/options.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "job/option_presets.h"

namespace rowflume {
namespace {

// How an option stores its value.
enum class OptionKind : uint8_t {
  kCopied,      // text copied as it is
  kDecoded,     // text with byte codes, see DecodeOptionText
  kEscape,      // first byte of the decoded value
  kNumber,      // decimal number, clamped
  kErrorCode,   // number appended to the tolerated fetch errors
  kYesNo,       // flag set by matching value prefixes
  kFormPreset,  // items of the form layout when the value begins with YES
  kFastPreset,  // session tuning items when the value begins with YES
  kTextPreset,  // items of a named output layout
};

enum class FieldType : uint8_t { kInt32, kUint32, kUint16, kUint8 };

constexpr int64_t kNoBound = INT64_MAX;
constexpr int kNoLength = -1;
constexpr int kNumberTextLimit = 254;  // characters of a value read as a number

// Clamps of a number option, applied in this order to the value as the field's type sees it.
struct NumberRule {
  int64_t low = -kNoBound;           // values below low ...
  int64_t below_low = 0;             // ... become this,
  bool kilobytes_below_low = false;  // ... or, when set, are taken as kilobytes
  int64_t high = kNoBound;           // values above high become high
  int64_t scale = 1;                 // the stored value is the clamped one times scale
};

struct YesNoWord {
  const char* word;  // a value matches when it begins with word, letter case ignored
  int32_t result;
};

struct KeywordEntry {
  const char* name;
  OptionKind kind;
  size_t offset = 0;              // field in UnloadHandle
  int capacity = 0;               // bytes of a text field
  int limit = 0;                  // most characters (input characters when decoded) stored
  int length_offset = kNoLength;  // length field of a decoded text
  FieldType type = FieldType::kInt32;
  NumberRule number = {};
  int32_t fallback = 0;  // yes/no value before the words are tried
  YesNoWord words[3] = {};
  bool unique_sets_update = false;  // a non-empty value also switches `update` on
};

#define ROWFLUME_TEXT(member) offsetof(UnloadHandle, member), sizeof(UnloadHandle::member)
#define ROWFLUME_LENGTH(member) static_cast<int>(offsetof(UnloadHandle, member))
#define ROWFLUME_FIELD(member) offsetof(UnloadHandle, member)

constexpr YesNoWord kYes[2] = {{"YES", 1}, {"ON", 1}};

constexpr KeywordEntry YesNo(const char* name, size_t offset, FieldType type) {
  return {.name = name,
          .kind = OptionKind::kYesNo,
          .offset = offset,
          .type = type,
          .words = {kYes[0], kYes[1]}};
}

constexpr KeywordEntry kOptions[] = {
    {"user", OptionKind::kCopied, ROWFLUME_TEXT(user), 128},
    {"query", OptionKind::kCopied, ROWFLUME_TEXT(query), 8191},
    {"field", OptionKind::kDecoded, ROWFLUME_TEXT(field), 131, ROWFLUME_LENGTH(field_length)},
    {"record", OptionKind::kDecoded, ROWFLUME_TEXT(record), 131, ROWFLUME_LENGTH(record_length)},
    {"crack", OptionKind::kDecoded, ROWFLUME_TEXT(crack), 31},
    {"uncrack", OptionKind::kDecoded, ROWFLUME_TEXT(uncrack), 31},
    {"rowpre", OptionKind::kDecoded, ROWFLUME_TEXT(rowpre), 63, ROWFLUME_LENGTH(rowpre_length)},
    {"rowsuf", OptionKind::kDecoded, ROWFLUME_TEXT(rowsuf), 63, ROWFLUME_LENGTH(rowsuf_length)},
    {"colsep", OptionKind::kDecoded, ROWFLUME_TEXT(colsep), 63, ROWFLUME_LENGTH(colsep_length)},
    {"null", OptionKind::kDecoded, ROWFLUME_TEXT(null), 127, ROWFLUME_LENGTH(null_length)},
    {"prehead", OptionKind::kDecoded, ROWFLUME_TEXT(prehead), 63, ROWFLUME_LENGTH(prehead_length)},
    {"exec", OptionKind::kDecoded, ROWFLUME_TEXT(exec), 60, ROWFLUME_LENGTH(exec_length)},
    {"escf", OptionKind::kDecoded, ROWFLUME_TEXT(escf), 60},
    {"esct", OptionKind::kDecoded, ROWFLUME_TEXT(esct), 60},
    {"sedf", OptionKind::kDecoded, ROWFLUME_TEXT(sedf), 40},
    {"sedt", OptionKind::kDecoded, ROWFLUME_TEXT(sedt), 40},
    {"quote", OptionKind::kDecoded, ROWFLUME_TEXT(quote), 40},
    {"sql", OptionKind::kCopied, ROWFLUME_TEXT(sql), 254},
    {"file", OptionKind::kCopied, ROWFLUME_TEXT(file), 254},
    {"control", OptionKind::kCopied, ROWFLUME_TEXT(control), 254},
    {"log", OptionKind::kCopied, ROWFLUME_TEXT(log), 254},
    {"hint", OptionKind::kCopied, ROWFLUME_TEXT(hint), 254},
    {.name = "unique",
     .kind = OptionKind::kCopied,
     .offset = ROWFLUME_FIELD(unique),
     .capacity = sizeof(UnloadHandle::unique),
     .limit = 254,
     .unique_sets_update = true},
    {"table", OptionKind::kCopied, ROWFLUME_TEXT(table), 128},
    {"mode", OptionKind::kCopied, ROWFLUME_TEXT(mode), 128},
    {"split", OptionKind::kCopied, ROWFLUME_TEXT(split), 128},
    {"part", OptionKind::kCopied, ROWFLUME_TEXT(part), 131},
    {"scn", OptionKind::kCopied, ROWFLUME_TEXT(scn), 23},
    {"plan", OptionKind::kCopied, ROWFLUME_TEXT(plan), 254},
    {"pieces", OptionKind::kCopied, ROWFLUME_TEXT(pieces), 255},
    {"manifest", OptionKind::kCopied, ROWFLUME_TEXT(manifest), 254},
    {"verify", OptionKind::kCopied, ROWFLUME_TEXT(verify), 254},
    {"charset", OptionKind::kCopied, ROWFLUME_TEXT(charset), 63},
    {"compress", OptionKind::kCopied, ROWFLUME_TEXT(compress), 15},
    {"number", OptionKind::kCopied, ROWFLUME_TEXT(number), 15},
    {"ncharset", OptionKind::kCopied, ROWFLUME_TEXT(ncharset), 63},
    {"width", OptionKind::kCopied, ROWFLUME_TEXT(width), 2047},
    {"alter", OptionKind::kCopied, ROWFLUME_TEXT(alter), 2047},
    {"presql", OptionKind::kCopied, ROWFLUME_TEXT(presql), 1023},
    {"postsql", OptionKind::kCopied, ROWFLUME_TEXT(postsql), 1023},
    // The decoded value lands in a scratch area of this many bytes; only its first byte is kept.
    {"escape", OptionKind::kEscape, ROWFLUME_FIELD(escape), 132, 131},

    {.name = "rows",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(rows),
     .type = FieldType::kUint32,
     .number = {.low = 1000, .below_low = 1000}},
    {.name = "array",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(array),
     .type = FieldType::kUint32,
     .number = {.low = 5, .below_low = 5, .high = 2000}},
    {.name = "long",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(long_limit),
     .type = FieldType::kUint32,
     .number = {.low = 1024, .kilobytes_below_low = true, .high = 2097152}},
    {.name = "buffer",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(buffer),
     .number = {.low = 8, .below_low = 8, .high = 100, .scale = 1048576}},
    {.name = "rowgroup",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(rowgroup),
     .number = {.low = 1, .below_low = 1, .high = 1024, .scale = 1048576}},
    {.name = "hash",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(hash),
     .number = {.low = 0, .below_low = 0, .high = 512}},
    {.name = "sort",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(sort),
     .number = {.low = 0, .below_low = 0, .high = 512}},
    {.name = "read",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(read),
     .number = {.low = 0, .below_low = 0, .high = 512}},
    {.name = "degree",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(degree),
     .number = {.low = 1, .below_low = 1, .high = 128}},
    {.name = "lobdir",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(lobdir),
     .number = {.low = 8, .below_low = 8, .high = 1024}},
    {.name = "size",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(size),
     .number = {.low = 0, .below_low = 268435455}},
    {.name = "trace", .kind = OptionKind::kNumber, .offset = ROWFLUME_FIELD(trace)},
    {.name = "retry",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(retry),
     .type = FieldType::kUint16,
     .number = {.high = 128}},
    {.name = "sleep",
     .kind = OptionKind::kNumber,
     .offset = ROWFLUME_FIELD(sleep),
     .type = FieldType::kUint16,
     .number = {.high = 180}},
    {.name = "error", .kind = OptionKind::kErrorCode},

    YesNo("head", ROWFLUME_FIELD(head), FieldType::kInt32),
    YesNo("batch", ROWFLUME_FIELD(batch), FieldType::kInt32),
    YesNo("update", ROWFLUME_FIELD(update), FieldType::kInt32),
    YesNo("safe", ROWFLUME_FIELD(safe), FieldType::kInt32),
    YesNo("crypt", ROWFLUME_FIELD(crypt), FieldType::kInt32),
    YesNo("resume", ROWFLUME_FIELD(resume), FieldType::kInt32),
    YesNo("client", ROWFLUME_FIELD(client), FieldType::kUint8),
    YesNo("serial", ROWFLUME_FIELD(serial), FieldType::kInt32),
    {.name = "help",
     .kind = OptionKind::kYesNo,
     .offset = ROWFLUME_FIELD(help),
     .type = FieldType::kUint8,
     .words = {{"YES", 1}}},
    {.name = "data",
     .kind = OptionKind::kYesNo,
     .offset = ROWFLUME_FIELD(data),
     .fallback = 1,
     .words = {{"NO", 0}, {"OFF", 0}}},
    {.name = "lob",
     .kind = OptionKind::kYesNo,
     .offset = ROWFLUME_FIELD(lob),
     .words = {{"FILE", 1}}},
    // Any value beginning with S and Q ("SQL") asks for Oracle INSERT statements.
    {.name = "format",
     .kind = OptionKind::kYesNo,
     .offset = ROWFLUME_FIELD(format),
     .words = {{"MYSQL", kMySqlFormat}, {"SQ", kOracleFormat}, {"PARQUET", kParquetFormat}}},

    {.name = "form", .kind = OptionKind::kFormPreset},
    {.name = "fast", .kind = OptionKind::kFastPreset},
    {.name = "text", .kind = OptionKind::kTextPreset},
};

#undef ROWFLUME_TEXT
#undef ROWFLUME_LENGTH
#undef ROWFLUME_FIELD

// Every text limit leaves room for the terminating NUL inside its field.
constexpr bool TextLimitsFit() {
  for (const KeywordEntry& entry : kOptions) {
    bool is_text = entry.kind == OptionKind::kCopied || entry.kind == OptionKind::kDecoded ||
                   entry.kind == OptionKind::kEscape;
    if (is_text && entry.limit + 1 > entry.capacity) return false;
  }
  return true;
}
static_assert(TextLimitsFit(), "an option limit does not fit its field");

// A value cut to its option's limit is marked by the option's position in the table, one bit
// of cut_options each, so every text option must lie within the first 64 entries.
constexpr bool TextOptionsMarkable() {
  for (size_t idx = 0; idx < sizeof kOptions / sizeof kOptions[0]; ++idx) {
    bool is_text =
        kOptions[idx].kind == OptionKind::kCopied || kOptions[idx].kind == OptionKind::kDecoded;
    if (is_text && idx >= 64) return false;
  }
  return true;
}
static_assert(TextOptionsMarkable(), "a text option lies beyond the cut marks");

constexpr size_t kOptionCount = std::size(kOptions);

constexpr size_t TextLength(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

// The preset_options bit of the option named by the keyword (of keyword_length characters, any
// letter case), or -1 when no preset sets it.
constexpr int LayoutBitOf(const char* keyword, size_t keyword_length) {
  for (size_t bit = 0; bit < std::size(kLayoutOptions); ++bit) {
    if (TextLength(kLayoutOptions[bit]) == keyword_length &&
        EqualIgnoringCase(kLayoutOptions[bit], keyword, keyword_length)) {
      return static_cast<int>(bit);
    }
  }
  return -1;
}

// The bit of every keyword table entry, -1 for the options no preset sets.
constexpr std::array<int8_t, kOptionCount> MakeLayoutBits() {
  std::array<int8_t, kOptionCount> bits = {};
  for (size_t idx = 0; idx < kOptionCount; ++idx) {
    bits[idx] =
        static_cast<int8_t>(LayoutBitOf(kOptions[idx].name, TextLength(kOptions[idx].name)));
  }
  return bits;
}
constexpr std::array<int8_t, kOptionCount> kLayoutBits = MakeLayoutBits();

// True when every item of the presets names a layout option, and every layout option is a
// keyword of the table: a preset leaves nothing behind that a later one would not reset.
constexpr bool PresetsSetLayoutOptionsOnly() {
  auto is_layout_item = [](const char* item) {
    size_t keyword_length = 0;
    while (item[keyword_length] != '=') ++keyword_length;
    return LayoutBitOf(item, keyword_length) >= 0;
  };
  for (const char* item : kFormItems) {
    if (!is_layout_item(item)) return false;
  }
  for (const TextPreset& preset : kTextPresets) {
    for (const char* item : preset.items) {
      if (item != nullptr && !is_layout_item(item)) return false;
    }
  }
  size_t bits_found = 0;
  for (int8_t bit : kLayoutBits) bits_found += bit >= 0 ? 1 : 0;
  return bits_found == std::size(kLayoutOptions);
}
static_assert(PresetsSetLayoutOptionsOnly(), "a preset sets an option it cannot reset");

// The name of the layout a preset set; the whole field is rewritten, so that two jobs that ended
// with the same preset are equal byte for byte.
void SetLayoutName(UnloadHandle* job, const char* name) {
  std::memset(job->layout, 0, sizeof job->layout);
  std::snprintf(job->layout, sizeof job->layout, "%s", name);
}

const KeywordEntry* FindOption(const char* keyword, int keyword_length) {
  for (const KeywordEntry& entry : kOptions) {
    if (static_cast<int>(std::strlen(entry.name)) == keyword_length &&
        EqualIgnoringCase(entry.name, keyword, keyword_length)) {
      return &entry;
    }
  }
  return nullptr;
}

char* FieldAt(UnloadHandle* job, size_t offset) {
  return reinterpret_cast<char*>(job) + offset;
}

const char* FieldAt(const UnloadHandle* job, size_t offset) {
  return reinterpret_cast<const char*>(job) + offset;
}

void StoreInt32(UnloadHandle* job, size_t offset, int32_t value) {
  std::memcpy(FieldAt(job, offset), &value, sizeof(value));
}

// Stores value, already clamped into the field's range, into a field of the given type.
void StoreNumber(UnloadHandle* job, size_t offset, FieldType type, int64_t value) {
  char* field = FieldAt(job, offset);
  switch (type) {
    case FieldType::kInt32: {
      int32_t stored = static_cast<int32_t>(value);
      std::memcpy(field, &stored, sizeof(stored));
      break;
    }
    case FieldType::kUint32: {
      uint32_t stored = static_cast<uint32_t>(value);
      std::memcpy(field, &stored, sizeof(stored));
      break;
    }
    case FieldType::kUint16: {
      uint16_t stored = static_cast<uint16_t>(value);
      std::memcpy(field, &stored, sizeof(stored));
      break;
    }
    case FieldType::kUint8: {
      uint8_t stored = static_cast<uint8_t>(value);
      std::memcpy(field, &stored, sizeof(stored));
      break;
    }
  }
}

// The number as the field's type sees it: a negative number given for an unsigned field is a
// large unsigned value, and a 16-bit field keeps the low 16 bits.
int64_t AsFieldValue(int32_t number, FieldType type) {
  switch (type) {
    case FieldType::kUint32:
      return static_cast<uint32_t>(number);
    case FieldType::kUint16:
      return static_cast<uint16_t>(number);
    case FieldType::kUint8:
      return static_cast<uint8_t>(number);
    case FieldType::kInt32:
      break;
  }
  return number;
}

void SetNumber(UnloadHandle* job, const KeywordEntry& entry, const char* value, int value_length) {
  int length = value_length < kNumberTextLimit ? value_length : kNumberTextLimit;
  int64_t number = AsFieldValue(ReadOptionNumber(value, length), entry.type);
  const NumberRule& rule = entry.number;
  if (number < rule.low) number = rule.kilobytes_below_low ? number * 1024 : rule.below_low;
  if (number > rule.high) number = rule.high;
  StoreNumber(job, entry.offset, entry.type, number * rule.scale);
}

void AddErrorCode(UnloadHandle* job, const char* value, int value_length) {
  int length = value_length < kNumberTextLimit ? value_length : kNumberTextLimit;
  int32_t code = ReadOptionNumber(value, length);
  for (int idx = 0; idx < job->error_count; ++idx) {
    if (job->error_codes[idx] == code) return;
  }
  // The list has room for kMaxErrorCodes numbers; a further distinct number is dropped rather
  // than written past the list.
  if (job->error_count >= kMaxErrorCodes) return;
  job->error_codes[job->error_count++] = code;
}

void SetYesNo(UnloadHandle* job, const KeywordEntry& entry, const char* value, int value_length) {
  int32_t flag = entry.fallback;
  for (const YesNoWord& word : entry.words) {
    if (word.word != nullptr && ValueBeginsWith(value, value_length, word.word)) flag = word.result;
  }
  StoreNumber(job, entry.offset, entry.type, flag);
}

void SetText(UnloadHandle* job, const KeywordEntry& entry, const char* value, int value_length) {
  char* field = FieldAt(job, entry.offset);
  std::memset(field, 0, static_cast<size_t>(entry.capacity));
  int length = value_length < entry.limit ? value_length : entry.limit;
  // The cut value is stored all the same; the mark keeps a run from using it, and a later
  // value that fits clears it, as the last item wins.
  const uint64_t mark = uint64_t{1} << (&entry - kOptions);
  job->cut_options =
      value_length > entry.limit ? job->cut_options | mark : job->cut_options & ~mark;
  if (entry.kind == OptionKind::kCopied) {
    std::memcpy(field, value, static_cast<size_t>(length));
    if (entry.unique_sets_update && length > 0) job->update = 1;
    return;
  }
  int decoded_length = DecodeOptionText(value, field, length);
  if (entry.length_offset != kNoLength) {
    StoreInt32(job, static_cast<size_t>(entry.length_offset), decoded_length);
  }
}

void SetEscape(UnloadHandle* job, const KeywordEntry& entry, const char* value, int value_length) {
  // Skipped output positions keep the space, so a lone "0" leaves "no escaping".
  char scratch[132];
  std::memset(scratch, ' ', sizeof(scratch));
  int length = value_length < entry.limit ? value_length : entry.limit;
  DecodeOptionText(value, scratch, length);
  job->escape = scratch[0];
}

// Bytes of the field an option stores its value in.
size_t FieldBytes(const KeywordEntry& entry) {
  switch (entry.kind) {
    case OptionKind::kCopied:
    case OptionKind::kDecoded:
      return static_cast<size_t>(entry.capacity);
    case OptionKind::kEscape:
      return sizeof(UnloadHandle::escape);
    default:
      break;
  }
  switch (entry.type) {
    case FieldType::kUint16:
      return sizeof(uint16_t);
    case FieldType::kUint8:
      return sizeof(uint8_t);
    default:
      return sizeof(int32_t);
  }
}

// The record InitJobDefaults gives, made once.
const UnloadHandle& DefaultJob() {
  static UnloadHandle defaults;
  static const UnloadHandle* const made = InitJobDefaults(&defaults);
  return *made;
}

// Every option a preset set, and the user has not set since, goes back to its default, so that
// a preset never inherits the layout of the one before it.
void ResetPresetOptions(UnloadHandle* job) {
  if (job->preset_options == 0) return;
  const UnloadHandle& defaults = DefaultJob();
  for (size_t idx = 0; idx < kOptionCount; ++idx) {
    const int bit = kLayoutBits[idx];
    if (bit < 0 || (job->preset_options >> bit & 1) == 0) continue;
    const KeywordEntry& entry = kOptions[idx];
    std::memcpy(FieldAt(job, entry.offset), FieldAt(&defaults, entry.offset), FieldBytes(entry));
    if (entry.length_offset != kNoLength) {
      const auto length_offset = static_cast<size_t>(entry.length_offset);
      std::memcpy(FieldAt(job, length_offset), FieldAt(&defaults, length_offset), sizeof(int32_t));
    }
  }
  job->preset_options = 0;
}

int ApplyItem(UnloadHandle* job, const char* item, bool by_preset);

void ApplyPresetItems(UnloadHandle* job, const char* const* items, size_t count) {
  ResetPresetOptions(job);
  for (size_t idx = 0; idx < count && items[idx] != nullptr; ++idx) {
    ApplyItem(job, items[idx], true);
  }
}

void ApplyTextPreset(UnloadHandle* job, const char* value, int value_length) {
  for (const TextPreset& preset : kTextPresets) {
    if (static_cast<int>(std::strlen(preset.name)) != value_length ||
        !EqualIgnoringCase(value, preset.name, value_length)) {
      continue;
    }
    ApplyPresetItems(job, preset.items, std::size(preset.items));
    SetLayoutName(job, preset.name);
    return;
  }
}

// The value SetOption takes from an item: the text after "=" and the white space after it, or,
// for a decoded text whose value is white space only, that white space itself, so that a
// separator given as the bytes themselves (field=<TAB>) is not taken as an empty one.
void ValueOf(const char* item, const KeywordValue& split, const KeywordEntry& entry,
             const char** value, int* value_length) {
  *value = item + split.value_start;
  *value_length = split.value_length;
  if (entry.kind != OptionKind::kDecoded || split.value_length != 0) return;
  const char* equals = std::strchr(item, '=');
  if (equals == nullptr) return;
  *value = equals + 1;
  *value_length = static_cast<int>(std::strlen(equals + 1));
}

int ApplyItem(UnloadHandle* job, const char* item, bool by_preset) {
  KeywordValue split = SplitKeywordValue(item);
  const KeywordEntry* entry = FindOption(item + split.keyword_start, split.keyword_length);
  if (entry == nullptr) return 0;
  const char* value = nullptr;
  int value_length = 0;
  ValueOf(item, split, *entry, &value, &value_length);
  if (const int bit = kLayoutBits[static_cast<size_t>(entry - kOptions)]; bit >= 0) {
    const auto mark = static_cast<uint16_t>(1u << bit);
    job->preset_options =
        static_cast<uint16_t>(by_preset ? job->preset_options | mark : job->preset_options & ~mark);
  }
  switch (entry->kind) {
    case OptionKind::kCopied:
    case OptionKind::kDecoded:
      SetText(job, *entry, value, value_length);
      break;
    case OptionKind::kEscape:
      SetEscape(job, *entry, value, value_length);
      break;
    case OptionKind::kNumber:
      SetNumber(job, *entry, value, value_length);
      break;
    case OptionKind::kErrorCode:
      AddErrorCode(job, value, value_length);
      break;
    case OptionKind::kYesNo:
      SetYesNo(job, *entry, value, value_length);
      break;
    case OptionKind::kFormPreset:
      if (ValueBeginsWith(value, value_length, "YES")) {
        ApplyPresetItems(job, kFormItems, std::size(kFormItems));
        SetLayoutName(job, "FORM");
      }
      break;
    case OptionKind::kFastPreset:
      // Session tuning, no layout: nothing of it is reset by a later preset.
      if (ValueBeginsWith(value, value_length, "YES")) {
        for (const char* preset_item : kFastItems) ApplyItem(job, preset_item, true);
      }
      break;
    case OptionKind::kTextPreset:
      ApplyTextPreset(job, value, value_length);
      break;
  }
  return 1;
}

}  // namespace

const char* FirstCutOption(const UnloadHandle* job, int* limit) {
  for (size_t idx = 0; idx < 64 && idx < sizeof kOptions / sizeof kOptions[0]; ++idx) {
    if ((job->cut_options >> idx & 1) == 0) continue;
    if (limit != nullptr) *limit = kOptions[idx].limit;
    return kOptions[idx].name;
  }
  return nullptr;
}

const char* KeywordAt(size_t index) {
  return index < sizeof kOptions / sizeof kOptions[0] ? kOptions[index].name : nullptr;
}

bool IsKnownKeyword(const char* item) {
  KeywordValue split = SplitKeywordValue(item);
  return FindOption(item + split.keyword_start, split.keyword_length) != nullptr;
}

int SetOption(UnloadHandle* job, const char* item) {
  return ApplyItem(job, item, false);
}

bool IsLiteralBlankItem(const char* item) {
  KeywordValue split = SplitKeywordValue(item);
  const KeywordEntry* entry = FindOption(item + split.keyword_start, split.keyword_length);
  const char* equals = std::strchr(item, '=');
  return entry != nullptr && entry->kind == OptionKind::kDecoded && split.value_length == 0 &&
         equals != nullptr && equals[1] != '\0';
}

}  // namespace rowflume
