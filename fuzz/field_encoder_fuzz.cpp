// The field encoder with arbitrary options, columns and values. Every row is encoded twice: into a
// buffer large enough never to flush, and into a small buffer that flushes (scrambled when the
// options set a key) to a file. The file, unscrambled by hand, must equal the large buffer: the
// bytes of an unload do not depend on the buffer size. Each field of the large buffer is then
// taken apart: separators, names, quotes and "unhex(" where the options put them, fixed fields
// of their exact width, and the value itself given back by unescaping or unhexing wherever the
// escaping can be reversed.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "db/columns.h"
#include "db/oracle_types.h"
#include "fuzz/fuzz_input.h"
#include "job/job_record.h"
#include "job/options.h"
#include "output/field_encoding.h"
#include "output/output_buffer.h"
#include "platform/platform.h"

namespace rowflume::fuzz {
namespace {

// Far above the largest output of one input (12 fields of at most a few kilobytes each).
constexpr int kLargeBuffer = 1 << 17;

const char* const kKeywords[] = {"field", "quote",  "escape", "escf",   "esct",  "sedf",
                                 "sedt",  "null",   "colsep", "format", "text",  "crack",
                                 "form",  "record", "rowpre", "escape", "quote", "field"};

struct ColumnKind {
  int described;
  int define;
};

// Described and define types as the describe step pairs them.
const ColumnKind kKinds[] = {
    {SQLT_CHR, SQLT_CHR},    // text
    {SQLT_NUM, SQLT_CHR},    // NUMBER converted by the server
    {SQLT_NUM, SQLT_NUM},    // NUMBER converted here
    {SQLT_DAT, SQLT_DAT},    // DATE converted here
    {SQLT_BIN, SQLT_BIN},    // RAW
    {SQLT_LNG, SQLT_LVC},    // LONG
    {SQLT_CLOB, SQLT_LVC},   // CLOB fetched inline
    {SQLT_BLOB, SQLT_LVB},   // BLOB fetched inline
    {SQLT_CLOB, SQLT_CLOB},  // CLOB written to a file
    {SQLT_TIMESTAMP, SQLT_CHR}, {SQLT_RID, SQLT_CHR}, {SQLT_AFC, SQLT_CHR},
};

bool IsNeverEscaped(int described) {
  for (int type : {2, 6, 11, 12, 104, 112, 113, 114, 156, 180, 187, 181, 188, 232}) {
    if (described == type) return true;
  }
  return false;
}

bool IsLob(int define) {
  return define == SQLT_CLOB || define == SQLT_BLOB || define == SQLT_BFILEE;
}
bool IsLong(int define) {
  return define == SQLT_LVC || define == SQLT_LVB;
}
// Raw bytes, never read as characters.
bool IsBinary(int described) {
  return described == 15 || described == SQLT_BIN || described == SQLT_LBI ||
         described == SQLT_BLOB;
}

struct Column {
  ColumnDesc desc;
  std::vector<char> original;  // define buffer before encoding
  int lob_names[3];            // name length the LOB writer gives per row; -1 = failed write
};

// Gives the LOB file name of a row: lob_names bytes of one letter per position. The context is
// the column list.
int FakeLobWriter(void* context, ColumnDesc* column, int row_idx, uint64_t, int position,
                  char* name, int name_capacity) {
  const auto& columns = *static_cast<const std::vector<std::unique_ptr<Column>>*>(context);
  int length = -1;
  for (const auto& owner : columns) {
    if (&owner->desc == column) length = owner->lob_names[row_idx];
  }
  if (length < 0) return -1;
  if (length > name_capacity) length = name_capacity;
  std::memset(name, 'a' + position % 26, static_cast<size_t>(length));
  return length;
}

// The value bytes of a row as the encoder must see them, from the current define buffer.
std::string ValueOf(const ColumnDesc& c, int row) {
  int64_t width = c.define_width > 0 ? c.define_width : 0;
  const char* slot = c.define_buffer + row * width;
  if (c.indicators[row] == -1 || IsLob(c.define_type) || width == 0) return std::string();
  if (IsLong(c.define_type)) {
    if (width < 4) return std::string();
    uint32_t stored;
    std::memcpy(&stored, slot, 4);
    int64_t length = stored < width - 4 ? stored : width - 4;
    return std::string(slot + 4, static_cast<size_t>(length));
  }
  int64_t length = c.returned_lengths[row] < width ? c.returned_lengths[row] : width;
  return std::string(slot, static_cast<size_t>(length));
}

struct Escaping {
  bool on = false;
  char escape = ' ';
  int replacement_of[256];  // -1 for a byte that is not escaped
  bool reversible = false;
};

// The escape rules read from the options without the encoder's tables: the escape character is
// doubled; escf[k] becomes esct[k] for the leading positions (at most 20) where both are set, the
// first naming a byte winning. Reversible when no two bytes share a replacement and, where
// double-byte characters are kept whole, the escape character can be neither of their bytes.
Escaping ReadEscaping(const UnloadHandle& job, bool double_byte) {
  Escaping e;
  e.escape = job.escape;
  e.on = job.escape != ' ';
  for (int& r : e.replacement_of) r = -1;
  uint8_t esc = static_cast<uint8_t>(job.escape);
  e.replacement_of[esc] = esc;
  for (int k = 0; k < 20 && job.escf[k] != '\0' && job.esct[k] != '\0'; ++k) {
    uint8_t from = static_cast<uint8_t>(job.escf[k]);
    if (e.replacement_of[from] < 0) e.replacement_of[from] = static_cast<uint8_t>(job.esct[k]);
  }
  bool used[256] = {};
  e.reversible = !double_byte || esc < 0x40 || esc == 0xFF;
  for (int r : e.replacement_of) {
    if (r < 0) continue;
    if (used[r]) e.reversible = false;
    used[r] = true;
  }
  return e;
}

bool IsLead(uint8_t b) {
  return b >= 0x81 && b <= 0xFE;
}
bool IsTrail(uint8_t b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// Undoes the escaping; false when the text is not one the escaping can produce. keep_pairs: the
// value's double-byte characters were copied whole.
bool Unescape(const std::string& text, const Escaping& e, bool keep_pairs, std::string* out) {
  int original_of[256];
  for (int& o : original_of) o = -1;
  for (int b = 0; b < 256; ++b) {
    if (e.replacement_of[b] >= 0) original_of[e.replacement_of[b]] = b;
  }
  for (size_t i = 0; i < text.size();) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    if (keep_pairs && IsLead(b) && i + 1 < text.size() &&
        IsTrail(static_cast<uint8_t>(text[i + 1]))) {
      *out += text.substr(i, 2);
      i += 2;
    } else if (b == static_cast<uint8_t>(e.escape)) {
      if (i + 1 >= text.size()) return false;
      int original = original_of[static_cast<uint8_t>(text[i + 1])];
      if (original < 0) return false;
      *out += static_cast<char>(original);
      i += 2;
    } else {
      if (e.replacement_of[b] >= 0) return false;  // an escaped byte written plain
      *out += static_cast<char>(b);
      ++i;
    }
  }
  return true;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (char c : bytes) {
    text += kDigits[static_cast<uint8_t>(c) >> 4];
    text += kDigits[static_cast<uint8_t>(c) & 15];
  }
  return text;
}

// Takes an expected head off text; false when text does not start with it.
bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}
bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Oracle statements: datetimes through TO_DATE and friends, binary data through HEXTORAW (or
// nothing, refused, past 2000 bytes), text of more than one piece as TO_CLOB pieces. True when
// the field took such a form and was checked; a refused field (empty) is counted.
bool CheckOracleForm(const ColumnDesc& c, const std::string& value, const std::string& quote,
                     const std::string& text, int* refusals) {
  const TypeFamily family = LookupType(c.described_type).family;
  if (c.define_type == SQLT_DAT || family == TypeFamily::kDate ||
      family == TypeFamily::kTimestamp || family == TypeFamily::kTimestampTz) {
    if (text.empty()) {
      ++*refusals;
    } else {
      FUZZ_CHECK(StartsWith(text, "TO_DATE(" + quote) ||
                 StartsWith(text, "TO_TIMESTAMP(" + quote) ||
                 StartsWith(text, "TO_TIMESTAMP_TZ(" + quote));
      FUZZ_CHECK(EndsWith(text, "')"));
    }
    return true;
  }
  if (LookupType(c.described_type).binary) {
    if (value.size() > 2000) {
      FUZZ_CHECK(text.empty());
      ++*refusals;
    } else {
      FUZZ_CHECK(text == "HEXTORAW(" + quote + Hex(value) + quote + ")");
    }
    return true;
  }
  if (!StartsWith(text, "TO_CLOB(" + quote)) return false;
  FUZZ_CHECK(value.size() > 500 && EndsWith(text, quote + ")"));
  return true;
}

bool Take(std::string* text, const std::string& head) {
  if (text->compare(0, head.size(), head) != 0) return false;
  text->erase(0, head.size());
  return true;
}

bool TakeTail(std::string* text, const std::string& tail) {
  if (text->size() < tail.size() ||
      text->compare(text->size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  text->resize(text->size() - tail.size());
  return true;
}

// The temporary file the small buffer flushes to, one per process.
const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/rowflume_fuzz_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) std::abort();
    close(fd);
    std::string made(name.data());
    static std::string removed_at_exit;
    removed_at_exit = made;
    std::atexit([] { std::remove(removed_at_exit.c_str()); });
    return made;
  }();
  return path;
}

std::string ReadScratch() {
  std::string content;
  FILE* in = std::fopen(ScratchPath().c_str(), "rb");
  FUZZ_CHECK(in != nullptr);
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0) content.append(block, got);
  std::fclose(in);
  return content;
}

// Encodes every row; field_ends (when given) receives the fill length after each field.
void EncodeAll(FieldEncoder* encoder, std::vector<std::unique_ptr<Column>>& columns, int rows,
               std::vector<int>* field_ends) {
  for (int row = 0; row < rows; ++row) {
    encoder->row_number = static_cast<uint64_t>(row);
    for (size_t k = 0; k < columns.size(); ++k) {
      EncodeField(encoder, &columns[k]->desc, row, static_cast<int>(k));
      if (field_ends != nullptr) field_ends->push_back(encoder->out->fill);
    }
  }
}

void Restore(std::vector<std::unique_ptr<Column>>& columns) {
  for (auto& column : columns) {
    if (!column->original.empty()) {
      std::memcpy(column->desc.define_buffer, column->original.data(), column->original.size());
    }
  }
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume;
  using namespace rowflume::fuzz;
  Input input(data, size);

  auto job = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  int items = input.Int(0, 12);
  for (int i = 0; i < items; ++i) {
    std::string item = kKeywords[input.Byte() % (sizeof kKeywords / sizeof kKeywords[0])];
    item += '=';
    item += input.Bytes(static_cast<size_t>(input.Int(0, 40)));
    SetOption(job.get(), item.c_str());
  }

  int rows = input.Int(1, 3);
  int column_count = input.Int(1, 4);
  std::vector<std::unique_ptr<Column>> columns;
  ColumnDesc head;
  std::memset(&head, 0, sizeof head);
  for (int k = 0; k < column_count; ++k) {
    auto column = std::make_unique<Column>();
    ColumnDesc& c = column->desc;
    std::memset(&c, 0, sizeof c);
    const ColumnKind& kind = kKinds[input.Byte() % (sizeof kKinds / sizeof kKinds[0])];
    c.described_type = static_cast<int16_t>(kind.described);
    c.define_type = static_cast<int16_t>(kind.define);
    uint8_t flags = input.Byte();
    c.quotable = flags & 1;
    c.hex = (flags >> 1) & 1;
    std::string name = input.Bytes(static_cast<size_t>(input.Int(0, 30)));
    std::strncpy(c.name, name.c_str(), 30);
    c.name_length = static_cast<uint32_t>(std::strlen(c.name));
    c.define_width = input.Int(0, 600);
    c.display_width = input.Int(-2, 300);
    column->original.assign(static_cast<size_t>(rows) * static_cast<size_t>(c.define_width), '\0');
    for (int row = 0; row < rows; ++row) {
      c.indicators[row] = input.Flag() ? -1 : 0;
      c.returned_lengths[row] =
          static_cast<uint16_t>(input.Flag() ? input.Int(0, 65535) : input.Int(0, c.define_width));
      column->lob_names[row] = input.Int(-1, 300);
      std::string bytes = input.Bytes(static_cast<size_t>(input.Int(0, c.define_width)));
      if (!bytes.empty()) {
        std::memcpy(column->original.data() + static_cast<size_t>(row) * c.define_width,
                    bytes.data(), bytes.size());
      }
      if (IsLong(c.define_type) && c.define_width >= 4) {
        uint32_t stored = input.Flag()
                              ? static_cast<uint32_t>(input.Int(0, 65535)) << 8
                              : static_cast<uint32_t>(bytes.size() > 4 ? bytes.size() - 4 : 0);
        std::memcpy(column->original.data() + static_cast<size_t>(row) * c.define_width, &stored,
                    4);
      }
    }
    // Exactly the define buffer's size, so that a read past a slot is caught.
    c.define_buffer = static_cast<char*>(std::malloc(column->original.size() + 1));
    if (!columns.empty()) {
      columns.back()->desc.next = &c;
    } else {
      head.next = &c;
    }
    columns.push_back(std::move(column));
  }
  Restore(columns);

  // A double-byte client character set or the engine's UTF-8.
  const bool double_byte = input.Flag();
  const char* const charset = double_byte ? "ZHS16GBK" : "";

  // The large buffer: no flush ever happens, so its content is the whole output.
  OutputBuffer large;
  FUZZ_CHECK(OutputBufferInit(&large, kLargeBuffer, ""));
  FieldEncoder encoder;
  InitFieldEncoder(&encoder, job.get(), &large, &head, charset);
  encoder.lob_writer = FakeLobWriter;
  encoder.lob_context = &columns;
  std::vector<int> field_ends;
  EncodeAll(&encoder, columns, rows, &field_ends);
  FUZZ_CHECK(large.mb_written == 0.0 && !large.failed);
  const uint64_t cut_fields = encoder.cut_fields;  // the small buffer's paths must count the same
  const char* const refused = encoder.refused_column;
  int refusals = 0;
  std::string whole(large.data, static_cast<size_t>(large.fill));
  OutputBufferRelease(&large);

  // Every field taken apart.
  const bool fixed = job->field_length > 0 && job->field[0] == ' ';
  const Escaping escaping = ReadEscaping(*job, double_byte);
  const size_t quote_length = strnlen(job->quote, sizeof job->quote);
  const std::string quote(job->quote, quote_length);
  uint32_t longest_name = 0;
  for (auto& column : columns) {
    if (column->desc.name_length > longest_name) longest_name = column->desc.name_length;
  }
  int field_start = 0;
  size_t field_idx = 0;
  for (int row = 0; row < rows; ++row) {
    for (size_t k = 0; k < columns.size(); ++k, ++field_idx) {
      const ColumnDesc& c = columns[k]->desc;
      int field_end = field_ends[field_idx];
      std::string text = whole.substr(static_cast<size_t>(field_start),
                                      static_cast<size_t>(field_end - field_start));
      field_start = field_end;
      if (k > 0 && !fixed) {
        FUZZ_CHECK(Take(&text, std::string(job->field, static_cast<size_t>(job->field_length))));
      }
      if (job->colsep_length > 0) {
        FUZZ_CHECK(Take(&text, std::string(c.name, c.name_length)));
        if (job->colsep[0] == ' ')
          FUZZ_CHECK(Take(&text, std::string(longest_name - c.name_length, ' ')));
        FUZZ_CHECK(Take(&text, std::string(job->colsep, static_cast<size_t>(job->colsep_length))));
      }
      const int64_t display = c.display_width > 0 ? c.display_width : 0;
      const bool is_null = c.indicators[row] == -1;
      // MySQL statements write hex columns through unhex(); Oracle statements in a fixed layout
      // write binary values (RAW, LONG RAW, a BLOB fetched inline) as bare hexadecimal text.
      const bool mysql_hex = job->format == 1 && c.hex;
      const bool oracle_hex =
          job->format == 2 && !IsLob(c.define_type) && IsBinary(c.described_type);
      const bool hex = mysql_hex || oracle_hex;
      if (is_null) {
        std::string null_text(job->null, static_cast<size_t>(job->null_length));
        if (fixed) {
          null_text.resize(static_cast<size_t>(display), ' ');
        }
        FUZZ_CHECK(text == null_text);
        continue;
      }
      if (job->format == 2 && !fixed && !IsLob(c.define_type) &&
          CheckOracleForm(c, ValueOf(c, row), quote, text, &refusals)) {
        continue;
      }
      const bool quoted = quote_length > 0 && c.quotable && !fixed;
      if (mysql_hex) FUZZ_CHECK(Take(&text, "unhex(") && TakeTail(&text, ")"));
      if (quoted) FUZZ_CHECK(Take(&text, quote) && TakeTail(&text, quote));

      const std::string value = ValueOf(c, row);
      if (IsLob(c.define_type)) {
        int length = columns[k]->lob_names[row] < 0 ? 0 : columns[k]->lob_names[row];
        if (length > 256) length = 256;
        std::string name(static_cast<size_t>(length), static_cast<char>('a' + k % 26));
        if (fixed) name.resize(30, ' ');
        FUZZ_CHECK(text == name);
      } else if (c.define_type == SQLT_NUM || c.define_type == SQLT_DAT) {
        FUZZ_CHECK(!fixed || static_cast<int64_t>(text.size()) >= display);
      } else if (hex) {
        FUZZ_CHECK(text == Hex(value));
      } else if (fixed) {
        FUZZ_CHECK(static_cast<int64_t>(text.size()) == display);
        bool escaped = escaping.on && (IsLong(c.define_type) || !IsNeverEscaped(c.described_type));
        if (!escaped) {
          std::string expected = value.substr(0, static_cast<size_t>(display));
          expected.resize(static_cast<size_t>(display), ' ');
          FUZZ_CHECK(text == expected);
        }
      } else if (escaping.on && (IsLong(c.define_type) || !IsNeverEscaped(c.described_type))) {
        if (escaping.reversible) {
          std::string back;
          FUZZ_CHECK(Unescape(text, escaping, double_byte && !IsBinary(c.described_type), &back));
          FUZZ_CHECK(back == value);
        }
      } else {
        FUZZ_CHECK(text == value);
      }
    }
  }
  FUZZ_CHECK(field_start == static_cast<int>(whole.size()));

  // The same rows through a small buffer that flushes to a file, scrambled when a key is set.
  Restore(columns);
  OutputBuffer small;
  FUZZ_CHECK(OutputBufferInit(&small, input.Int(kMinOutputBufferBytes, 700), job->crack));
  small.stream = OpenFileStream(ScratchPath().c_str(), OpenMode::kTruncate);
  FUZZ_CHECK(small.stream != nullptr);
  InitFieldEncoder(&encoder, job.get(), &small, &head, charset);
  encoder.lob_writer = FakeLobWriter;
  encoder.lob_context = &columns;
  EncodeAll(&encoder, columns, rows, nullptr);
  FUZZ_CHECK(encoder.cut_fields == cut_fields);
  FUZZ_CHECK(encoder.refused_column == refused);
  FUZZ_CHECK((refused != nullptr) == (refusals > 0));
  FUZZ_CHECK(WriteAllBuffered(&small));
  FUZZ_CHECK(CloseStream(small.stream) == 0);
  OutputBufferRelease(&small);
  std::string written = ReadScratch();
  // Every 8-byte chunk from the stream's start is XORed with the key but the final 1 to 8 bytes.
  if (job->crack[0] != '\0' && !written.empty()) {
    size_t tail = written.size() % 8 == 0 ? 8 : written.size() % 8;
    for (size_t pos = 0; pos + tail < written.size(); ++pos) written[pos] ^= job->crack[pos % 8];
  }
  FUZZ_CHECK(written == whole);

  for (auto& column : columns) std::free(column->desc.define_buffer);
  return 0;
}
