#include "parallel/split_plan.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/ascii.h"

namespace rowflume {
namespace {

constexpr char kFirstLine[] = "ROWFLUME SPLIT PLAN";
constexpr int kRowidChars = 18;

bool IsRowidChar(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '+' || c == '/';
}

bool IsRowid(const char* text, size_t length) {
  if (length != kRowidChars) return false;
  for (size_t pos = 0; pos < length; ++pos) {
    if (!IsRowidChar(text[pos])) return false;
  }
  return true;
}

// Digits only, at most max_digits of them; the value into *value.
bool ParseCount(const char* text, size_t length, size_t max_digits, uint64_t* value) {
  if (length == 0 || length > max_digits) return false;
  uint64_t result = 0;
  for (size_t pos = 0; pos < length; ++pos) {
    if (!IsAsciiDigit(text[pos])) return false;
    result = result * 10 + static_cast<uint64_t>(text[pos] - '0');
  }
  *value = result;
  return true;
}

// The plan's text taken line by line; each line is looked at through key and value.
class PlanReader {
 public:
  PlanReader(const char* text, size_t length) : text_(text), end_(text + length) {}

  // The next line without its line end; false at the end of the text.
  bool NextLine(const char** line, size_t* length) {
    if (text_ >= end_) return false;
    const char* stop = static_cast<const char*>(std::memchr(text_, '\n', end_ - text_));
    const char* next = stop != nullptr ? stop + 1 : end_;
    if (stop == nullptr) stop = end_;
    if (stop > text_ && stop[-1] == '\r') --stop;
    *line = text_;
    *length = static_cast<size_t>(stop - text_);
    text_ = next;
    ++number_;
    return true;
  }

  // The value of the next line, which must be KEY=VALUE with this key.
  bool Value(const char* key, const char** value, size_t* length) {
    const char* line;
    size_t line_length;
    if (!NextLine(&line, &line_length)) return false;
    size_t key_length = std::strlen(key);
    if (line_length <= key_length || std::memcmp(line, key, key_length) != 0 ||
        line[key_length] != '=') {
      return false;
    }
    *value = line + key_length + 1;
    *length = line_length - key_length - 1;
    return true;
  }

  // A name value: no control character, and it fits.
  bool Name(const char* key, char* out, bool may_be_empty) {
    const char* value;
    size_t length;
    if (!Value(key, &value, &length) || length > kPlanMaxNameChars) return false;
    if (length == 0 && !may_be_empty) return false;
    for (size_t pos = 0; pos < length; ++pos) {
      auto c = static_cast<unsigned char>(value[pos]);
      if (c < 0x20 || c == 0x7f || c == '"') return false;
    }
    std::memcpy(out, value, length);
    out[length] = '\0';
    return true;
  }

  int line_number() const { return number_; }

 private:
  const char* text_;
  const char* end_;
  int number_ = 0;
};

bool ParsePieceLine(const char* value, size_t length, RowidRange* range) {
  const char* space = static_cast<const char*>(std::memchr(value, ' ', length));
  if (space == nullptr) return false;
  uint64_t number;
  if (!ParseCount(value, static_cast<size_t>(space - value), 3, &number) || number == 0 ||
      number > kMaxRowidRanges) {
    return false;
  }
  const char* first = space + 1;
  const char* rest_end = value + length;
  const char* second_space =
      static_cast<const char*>(std::memchr(first, ' ', static_cast<size_t>(rest_end - first)));
  if (second_space == nullptr) return false;
  const char* second = second_space + 1;
  if (!IsRowid(first, static_cast<size_t>(second_space - first)) ||
      !IsRowid(second, static_cast<size_t>(rest_end - second))) {
    return false;
  }
  range->seq = static_cast<uint32_t>(number);
  std::memcpy(range->min_rowid, first, kRowidChars);
  range->min_rowid[kRowidChars] = '\0';
  std::memcpy(range->max_rowid, second, kRowidChars);
  range->max_rowid[kRowidChars] = '\0';
  return true;
}

// "count lowest highest digest": three decimal numbers below 2^32 and 16 hex digits, one blank
// between each.
bool ParseSegments(const char* value, size_t length, SegmentSet* segments) {
  const char* end = value + length;
  uint64_t numbers[3];
  for (uint64_t& number : numbers) {
    const char* space = static_cast<const char*>(std::memchr(value, ' ', end - value));
    if (space == nullptr || !ParseCount(value, static_cast<size_t>(space - value), 10, &number) ||
        number > 0xFFFFFFFFULL) {
      return false;
    }
    value = space + 1;
  }
  if (end - value != 16) return false;
  uint64_t digest = 0;
  for (const char* p = value; p < end; ++p) {
    if (!IsHexDigit(*p)) return false;
    digest = digest * 16 + static_cast<uint64_t>(HexDigitValue(*p));
  }
  // Field by field: the caller's record was cleared, padding included, for comparing it whole.
  segments->count = static_cast<uint32_t>(numbers[0]);
  segments->lowest = static_cast<uint32_t>(numbers[1]);
  segments->highest = static_cast<uint32_t>(numbers[2]);
  segments->digest = digest;
  return true;
}

// Appends formatted text to a buffer of fixed capacity; used reaches capacity once it is full.
struct PlanWriter {
  char* out;
  size_t capacity;
  size_t used = 0;

  void Put(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (used >= capacity) return;
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(out + used, capacity - used, format, args);
    va_end(args);
    used = written < 0 ? capacity : used + static_cast<size_t>(written);
  }
};

}  // namespace

bool FormatSplitPlan(const SplitPlan& plan, char* out, size_t capacity) {
  PlanWriter writer{out, capacity};
  writer.Put("%s\nVERSION=%d\nOWNER=%s\nTABLE=%s\nPARTITION=%s\nSCN=%s\nDEGREE=%u\n", kFirstLine,
             kPlanVersion, plan.owner, plan.table, plan.partition, plan.scn, plan.degree);
  writer.Put("SEGMENTS=%u %u %u %016llx\nPIECES=%u\n", plan.segments.count, plan.segments.lowest,
             plan.segments.highest, static_cast<unsigned long long>(plan.segments.digest),
             plan.ranges.count);
  for (uint32_t idx = 0; idx < plan.ranges.count && idx < kMaxRowidRanges; ++idx) {
    const RowidRange& range = plan.ranges.ranges[idx];
    writer.Put("PIECE=%u %s %s\n", range.seq, range.min_rowid, range.max_rowid);
  }
  writer.Put("%s\n", "END");
  return writer.used < capacity;
}

bool ParseSplitPlan(const char* text, size_t length, SplitPlan* plan, char* error,
                    size_t error_size) {
  std::memset(plan, 0, sizeof *plan);
  PlanReader reader(text, length);
  auto fail = [&](const char* what) {
    std::snprintf(error, error_size, "%s at line %d", what, reader.line_number());
    return false;
  };
  const char* line;
  size_t line_length;
  if (!reader.NextLine(&line, &line_length) || line_length != sizeof kFirstLine - 1 ||
      std::memcmp(line, kFirstLine, line_length) != 0) {
    std::snprintf(error, error_size, "not a split plan");
    return false;
  }
  const char* value;
  size_t value_length;
  uint64_t number;
  if (!reader.Value("VERSION", &value, &value_length) ||
      !ParseCount(value, value_length, 3, &number)) {
    return fail("no VERSION");
  }
  if (number < kPlanVersion) return fail("made by an earlier version: write the plan again");
  if (number != kPlanVersion) return fail("a version this program does not read");
  if (!reader.Name("OWNER", plan->owner, false)) return fail("no valid OWNER");
  if (!reader.Name("TABLE", plan->table, false)) return fail("no valid TABLE");
  if (!reader.Name("PARTITION", plan->partition, true)) return fail("no valid PARTITION");
  if (!reader.Value("SCN", &value, &value_length) ||
      (value_length > 0 && !ParseCount(value, value_length, kPlanScnBytes - 4, &number))) {
    return fail("no valid SCN");
  }
  std::memcpy(plan->scn, value, value_length);
  plan->scn[value_length] = '\0';
  if (!reader.Value("DEGREE", &value, &value_length) ||
      !ParseCount(value, value_length, 3, &number) || number < 1 || number > kMaxRowidRanges) {
    return fail("no valid DEGREE");
  }
  plan->degree = static_cast<uint32_t>(number);
  if (!reader.Value("SEGMENTS", &value, &value_length) ||
      !ParseSegments(value, value_length, &plan->segments)) {
    return fail("no valid SEGMENTS");
  }
  if (!reader.Value("PIECES", &value, &value_length) ||
      !ParseCount(value, value_length, 3, &number) || number < 1 || number > kMaxRowidRanges) {
    return fail("no valid PIECES");
  }
  const auto count = static_cast<uint32_t>(number);
  bool seen[kMaxRowidRanges + 1] = {};
  for (uint32_t idx = 0; idx < count; ++idx) {
    RowidRange& range = plan->ranges.ranges[idx];
    if (!reader.Value("PIECE", &value, &value_length) ||
        !ParsePieceLine(value, value_length, &range)) {
      return fail("no valid PIECE");
    }
    if (seen[range.seq]) return fail("a piece given twice");
    seen[range.seq] = true;
  }
  plan->ranges.count = count;
  if (!reader.NextLine(&line, &line_length) || line_length != 3 ||
      std::memcmp(line, "END", 3) != 0) {
    return fail("no END after the pieces");
  }
  if (reader.NextLine(&line, &line_length)) return fail("text after END");
  return true;
}

bool ParsePieceList(const char* text, bool (&selected)[kMaxRowidRanges + 1]) {
  for (bool& flag : selected) flag = false;
  bool any = false;
  const char* pos = text;
  for (;;) {
    while (*pos == ' ') ++pos;
    const char* start = pos;
    while (IsAsciiDigit(*pos)) ++pos;
    uint64_t low;
    if (!ParseCount(start, static_cast<size_t>(pos - start), 3, &low)) return false;
    uint64_t high = low;
    while (*pos == ' ') ++pos;
    if (*pos == '-') {
      ++pos;
      while (*pos == ' ') ++pos;
      start = pos;
      while (IsAsciiDigit(*pos)) ++pos;
      if (!ParseCount(start, static_cast<size_t>(pos - start), 3, &high)) return false;
      while (*pos == ' ') ++pos;
    }
    if (low < 1 || high > kMaxRowidRanges || low > high) return false;
    for (uint64_t piece = low; piece <= high; ++piece) selected[piece] = true;
    any = true;
    if (*pos == '\0') return any;
    if (*pos != ',') return false;
    ++pos;
  }
}

}  // namespace rowflume
