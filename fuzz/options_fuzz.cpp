// Keyword items and byte-code decoding on arbitrary text. Each line of the input is one item for
// SetOption; afterwards the job record must keep every text inside its field with lengths that
// fit, and every number inside its clamps. Text options are compared with an independent reading
// of the item, and DecodeOptionText with an independent decoder.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/job_checks.h"
#include "job/job_record.h"
#include "job/options.h"

namespace rowflume::fuzz {
namespace {

bool IsSpaceByte(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// The decoded form of source: one entry per output position, -1 for a skipped one.
std::vector<int> ReferenceDecode(const std::string& source, size_t limit) {
  std::vector<int> out;
  size_t bound = limit < source.size() ? limit : source.size();
  size_t in = 0;
  while (in < bound) {
    size_t after = source.size() - in - 1;
    if (source[in] != '0') {
      out.push_back(static_cast<unsigned char>(source[in]));
      in += 1;
    } else if (after == 0) {
      out.push_back(-1);
      in += 1;
    } else if (source[in + 1] != 'x' && source[in + 1] != 'X') {
      out.push_back(static_cast<unsigned char>(source[in + 1]));
      in += 2;
    } else if (after == 1) {
      out.push_back(-1);
      in += 2;
    } else if (after == 2) {
      out.push_back(static_cast<unsigned char>(source[in + 2]));
      in += 3;
    } else {
      out.push_back(HexValue(source[in + 2]) * 16 + HexValue(source[in + 3]));
      in += 4;
    }
  }
  return out;
}

// DecodeOptionText into a heap area of exactly the documented size, so that any byte written
// past it is caught, pre-filled so that skipped positions can be seen keeping their byte.
void CheckDecode(const std::string& source, int limit) {
  int bound = limit < static_cast<int>(source.size()) ? limit : static_cast<int>(source.size());
  if (bound < 0) bound = 0;
  auto destination = std::make_unique<char[]>(static_cast<size_t>(bound) + 1);
  std::memset(destination.get(), '#', static_cast<size_t>(bound) + 1);
  int count = DecodeOptionText(source.c_str(), destination.get(), limit);
  std::vector<int> expected = ReferenceDecode(source, static_cast<size_t>(bound));
  FUZZ_CHECK(count == static_cast<int>(expected.size()));
  FUZZ_CHECK(count <= bound);
  FUZZ_CHECK(destination[static_cast<size_t>(count)] == '\0');
  for (int pos = 0; pos < count; ++pos) {
    int want = expected[static_cast<size_t>(pos)];
    char got = destination[static_cast<size_t>(pos)];
    FUZZ_CHECK(want < 0 ? got == '#' : static_cast<unsigned char>(got) == want);
  }
}

struct TextOption {
  const char* name;
  size_t offset;
  int capacity;
  int limit;
  bool decoded;
  int length_offset;  // -1 when the option keeps no length
};

#define TEXT(name, member, limit, decoded, length) \
  { name, offsetof(UnloadHandle, member), sizeof(UnloadHandle::member), limit, decoded, length }
#define LENGTH(member) static_cast<int>(offsetof(UnloadHandle, member))

const TextOption kTextOptions[] = {
    TEXT("user", user, 128, false, -1),
    TEXT("query", query, 8191, false, -1),
    TEXT("field", field, 131, true, LENGTH(field_length)),
    TEXT("record", record, 131, true, LENGTH(record_length)),
    TEXT("crack", crack, 31, true, -1),
    TEXT("uncrack", uncrack, 31, true, -1),
    TEXT("rowpre", rowpre, 63, true, LENGTH(rowpre_length)),
    TEXT("rowsuf", rowsuf, 63, true, LENGTH(rowsuf_length)),
    TEXT("colsep", colsep, 63, true, LENGTH(colsep_length)),
    TEXT("null", null, 127, true, LENGTH(null_length)),
    TEXT("prehead", prehead, 63, true, LENGTH(prehead_length)),
    TEXT("exec", exec, 60, true, LENGTH(exec_length)),
    TEXT("escf", escf, 60, true, -1),
    TEXT("esct", esct, 60, true, -1),
    TEXT("sedf", sedf, 40, true, -1),
    TEXT("sedt", sedt, 40, true, -1),
    TEXT("quote", quote, 40, true, -1),
    TEXT("sql", sql, 254, false, -1),
    TEXT("file", file, 254, false, -1),
    TEXT("control", control, 254, false, -1),
    TEXT("log", log, 254, false, -1),
    TEXT("hint", hint, 254, false, -1),
    TEXT("unique", unique, 254, false, -1),
    TEXT("table", table, 128, false, -1),
    TEXT("mode", mode, 128, false, -1),
    TEXT("split", split, 128, false, -1),
    TEXT("part", part, 131, false, -1),
    TEXT("charset", charset, 63, false, -1),
    TEXT("ncharset", ncharset, 63, false, -1),
    TEXT("width", width, 2047, false, -1),
    TEXT("alter", alter, 2047, false, -1),
    TEXT("presql", presql, 1023, false, -1),
    TEXT("postsql", postsql, 1023, false, -1),
};

#undef TEXT
#undef LENGTH

bool SameKeyword(const std::string& keyword, const char* name) {
  if (keyword.size() != std::strlen(name)) return false;
  for (size_t pos = 0; pos < keyword.size(); ++pos) {
    char c = keyword[pos];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[pos]) return false;
  }
  return true;
}

// After one item naming a text option, that option's field holds exactly the item's value, cut
// to its limit (and decoded where the option takes byte codes), with zeros after it.
void CheckTextItem(const UnloadHandle& job, const std::string& item) {
  size_t start = 0;
  while (start < item.size() && IsSpaceByte(item[start])) ++start;
  size_t equals = item.find('=', start);
  size_t keyword_end = equals == std::string::npos ? item.size() : equals;
  while (keyword_end > start && IsSpaceByte(item[keyword_end - 1])) --keyword_end;
  std::string keyword = item.substr(start, keyword_end - start);
  std::string value;
  if (equals != std::string::npos) {
    size_t value_start = equals + 1;
    while (value_start < item.size() && IsSpaceByte(item[value_start])) ++value_start;
    value = item.substr(value_start);
  }
  for (const TextOption& option : kTextOptions) {
    if (!SameKeyword(keyword, option.name)) continue;
    // A decoded value of white space only is that white space.
    if (option.decoded && value.empty() && equals != std::string::npos) {
      value = item.substr(equals + 1);
    }
    const char* field = reinterpret_cast<const char*>(&job) + option.offset;
    size_t cut = value.size() < static_cast<size_t>(option.limit)
                     ? value.size()
                     : static_cast<size_t>(option.limit);
    std::vector<int> expected;
    if (option.decoded) {
      expected = ReferenceDecode(value, cut);
    } else {
      for (size_t pos = 0; pos < cut; ++pos)
        expected.push_back(static_cast<unsigned char>(value[pos]));
    }
    FUZZ_CHECK(expected.size() < static_cast<size_t>(option.capacity));
    for (size_t pos = 0; pos < static_cast<size_t>(option.capacity); ++pos) {
      int want = pos < expected.size() ? expected[pos] : 0;
      if (want < 0) want = 0;  // a skipped position keeps the cleared byte
      FUZZ_CHECK(static_cast<unsigned char>(field[pos]) == want);
    }
    if (option.length_offset >= 0) {
      int32_t length;
      std::memcpy(&length, reinterpret_cast<const char*>(&job) + option.length_offset,
                  sizeof(length));
      FUZZ_CHECK(length == static_cast<int32_t>(expected.size()));
    }
    if (SameKeyword(keyword, "unique") && cut > 0) FUZZ_CHECK(job.update == 1);
    return;
  }
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume;
  using namespace rowflume::fuzz;
  Input input(data, size);
  int decode_limit = input.Int(-2, 300);
  std::string text = input.Rest();

  auto job = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    item = item.substr(0, std::strlen(item.c_str()));  // the item ends at a NUL byte

    KeywordValue split = SplitKeywordValue(item.c_str());
    FUZZ_CHECK(split.keyword_start >= 0 && split.keyword_length >= 0);
    FUZZ_CHECK(split.keyword_start + split.keyword_length <= split.value_start);
    FUZZ_CHECK(split.value_start + split.value_length == static_cast<int>(item.size()));

    SetOption(job.get(), item.c_str());
    CheckTextItem(*job, item);
    CheckJobRecord(*job);
    CheckDecode(item, decode_limit);
    start = end + 1;
  }
  return 0;
}
