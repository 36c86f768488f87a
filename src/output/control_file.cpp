#include "output/control_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "db/oracle_types.h"
#include "output/name_pattern.h"
#include "platform/platform.h"
#include "scramble/scramble.h"

namespace rowflume {
namespace {

constexpr int kWriterBytes = 8192;  // far more than one clause, the longest being ~400 bytes

// Buffered writing of the control file through the platform stream. The file is not part of
// the unload's result, so a failed write only stops the writing.
struct ControlWriter {
  OutputStream* stream;
  char data[kWriterBytes];
  int fill;
  bool failed;

  void Flush() {
    if (!failed && fill > 0 && !WriteAll(stream, data, static_cast<size_t>(fill))) failed = true;
    fill = 0;
  }

  __attribute__((format(printf, 2, 3))) void Printf(const char* format, ...) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      const int room = kWriterBytes - fill;
      va_list args;
      va_start(args, format);
      const int written = std::vsnprintf(data + fill, static_cast<size_t>(room), format, args);
      va_end(args);
      if (written < 0) return;
      if (written < room) {
        fill += written;
        return;
      }
      Flush();  // did not fit: write what is there and format once more into the empty buffer
    }
  }

  // Two lower-case hex digits per byte.
  void Hex(const char* bytes, int count) {
    for (int k = 0; k < count; ++k) Printf("%02x", static_cast<unsigned char>(bytes[k]));
  }

  // The bytes as a loader string: 'text' when every byte can stand between the quotes as
  // itself, X'hh...' otherwise, so that no byte is lost or read as the literal's end.
  void Literal(const char* bytes, int count) {
    bool plain = true;
    for (int k = 0; k < count; ++k) plain = plain && IsPlainLiteralByte(bytes[k]);
    if (plain) {
      Printf("'%.*s'", count, bytes);
    } else {
      Printf("X'");
      Hex(bytes, count);
      Printf("'");
    }
  }

  // Printable ASCII but the apostrophe, which would end the literal, and the backslash, which
  // the loader may read as an escape. Control bytes and bytes above 0x7E depend on the file's
  // character set and line handling.
  static bool IsPlainLiteralByte(char byte) {
    return byte >= 0x20 && byte < 0x7F && byte != '\'' && byte != '\\';
  }
};

// A CLOB or BLOB whose value the unload writes to a LOB file.
bool ReadsFromLobFile(const ColumnDesc* column) {
  return LookupType(column->described_type).lob_file_clause && IsLobLocator(column->define_type);
}

void WriteTableSketch(ControlWriter* out, const ControlLayout& layout, const UnloadHandle* job) {
  static constexpr char kTimestampWord[] = "TIMESTAMP";
  out->Printf("--  CREATE TABLE %s (\n", job->table);
  bool first = true;
  for (const ControlColumn& column : layout.columns) {
    const ControlColumn* c = &column;
    if (!first) out->Printf(",\n");
    first = false;
    const char* name = c->name;
    const OracleType& type = LookupType(c->described_type);
    if (type.family == TypeFamily::kNumber) {
      // A scale of its own may exceed the precision or fall below zero; with precision it marks
      // FLOAT and its binary digits.
      if (c->precision < 1) {
        out->Printf("--    %s NUMBER", name);
      } else if (c->scale == kFloatScale) {
        out->Printf("--    %s FLOAT(%d)", name, c->precision);
      } else if (c->scale != 0) {
        out->Printf("--    %s NUMBER(%d,%d)", name, c->precision, c->scale);
      } else {
        out->Printf("--    %s NUMBER(%d)", name, c->precision);
      }
    } else if ((type.family == TypeFamily::kTimestamp || type.family == TypeFamily::kTimestampTz) &&
               c->scale >= 0 && c->scale <= 9 && c->scale != kRowFractionDigits) {
      // The fractional precision, which describe gives as the scale, goes after the word
      // TIMESTAMP, before any time zone words; the default of 6 digits goes unwritten.
      out->Printf("--    %s %s(%d)%s", name, kTimestampWord, c->scale,
                  type.sketch + sizeof kTimestampWord - 1);
    } else if (type.sketch != nullptr) {
      out->Printf("--    %s %s", name, type.sketch);
    } else {
      // The width the records give the value, not its slot's: a long value's slot also holds
      // its length word. Text the client converts takes its converted width.
      out->Printf("--    %s VARCHAR2(%d)", name, c->width);
    }
  }
  out->Printf("\n--  );\n--\n");
}

void WriteFieldList(ControlWriter* out, const ControlLayout& layout) {
  const bool fixed_width = layout.fixed_width;
  int position = 1;
  bool first = true;
  for (const ControlColumn& column : layout.columns) {
    const ControlColumn* c = &column;
    if (!first) out->Printf(",\n");
    first = false;
    const char* name = c->name;
    const int width = c->width;
    const int start = position;
    const int end = start + width - 1;
    const char* mask = nullptr;
    const char* kind = nullptr;
    switch (LookupType(c->described_type).load) {
      case LoadClause::kDate:
        kind = "DATE";
        mask = kDateMask;
        break;
      case LoadClause::kTimestamp:
        kind = "TIMESTAMP";
        mask = kTimestampMask;
        break;
      case LoadClause::kTimestampTz:
        kind = "TIMESTAMP WITH TIME ZONE";
        mask = kTimestampTzMask;
        break;
      case LoadClause::kChar:
        break;
    }
    if (c->lob_file) {
      if (fixed_width) {
        out->Printf("  \"LOBF_%s\" FILLER POSITION(%d:%d) CHAR(%d) ,\n", name, start,
                    start + kLobNameWidth - 1, kLobNameWidth);
      } else {
        out->Printf("  \"LOBF_%s\" FILLER CHAR(%d) ,\n", name, kLobNameWidth);
      }
      out->Printf("  \"%s\" LOBFILE(\"LOBF_%s\") TERMINATED BY EOF", name, name);
    } else if (kind != nullptr) {
      if (fixed_width) {
        out->Printf("  \"%s\" POSITION(%d:%d) %s \"%s\" NULLIF \"%s\"=BLANKS", name, start, end,
                    kind, mask, name);
      } else {
        out->Printf("  \"%s\" %s \"%s\" NULLIF \"%s\"=BLANKS", name, kind, mask, name);
      }
    } else if (fixed_width) {
      out->Printf("  \"%s\" POSITION(%d:%d) CHAR(%d) NULLIF \"%s\"=BLANKS", name, start, end, width,
                  name);
    } else {
      out->Printf("  \"%s\" CHAR(%d) NULLIF \"%s\"=BLANKS", name, width, name);
    }
    position += width;
  }
}

}  // namespace

int RecordFieldWidth(const ColumnDesc* column) {
  return IsLobLocator(column->define_type) ? kLobNameWidth : column->display_width;
}

int FixedRecordLength(const ColumnDesc* head, const UnloadHandle* job) {
  int length = job->record_length;
  for (const ColumnDesc* c = head->next; c != nullptr; c = c->next) length += RecordFieldWidth(c);
  return length;
}

void ControlFileName(const UnloadHandle* job, char* name, size_t size) {
  if (job->control[0] != '\0') {
    std::snprintf(name, size, "%s", job->control);
  } else {
    std::snprintf(name, size, "%s_sqlldr.ctl", job->table);
  }
}

ControlLayout DescribeControlLayout(const ColumnDesc* head, const UnloadHandle* job) {
  ControlLayout layout;
  layout.fixed_width = job->field[0] == ' ';
  layout.record_length = FixedRecordLength(head, job);
  for (const ColumnDesc* c = head->next; c != nullptr; c = c->next) {
    ControlColumn column{};
    std::memcpy(column.name, c->name, sizeof column.name);
    column.described_type = c->described_type;
    column.precision = c->precision;
    column.scale = c->scale;
    column.width = RecordFieldWidth(c);
    column.lob_file = ReadsFromLobFile(c);
    layout.columns.push_back(column);
  }
  return layout;
}

std::string LoadedFileName(const std::string& expanded) {
  return WrittenFile(expanded.c_str());
}

std::string QuotedLoaderFileName(const std::string& name) {
  const bool apostrophe = name.find('\'') != std::string::npos;
  const bool double_quote = name.find('"') != std::string::npos;
  const char quote = apostrophe && !double_quote ? '"' : '\'';
  // Where the backslash separates directories the loader takes it as it stands; file names
  // there cannot hold a double quote, so no quote needs escaping either.
  const bool escapes = DirectorySeparator() != '\\';
  std::string text(1, quote);
  for (size_t pos = 0; pos < name.size(); ++pos) {
    const char c = name[pos];
    const char next = pos + 1 < name.size() ? name[pos + 1] : quote;
    if (c == quote) {
      text += '\\';
    } else if (c == '\\' && escapes && (next == '\\' || next == quote)) {
      text += '\\';  // a backslash that the loader would read as an escape stands for itself
    }
    text += c;
  }
  text += quote;
  return text;
}

bool WriteControlFile(const ControlLayout& layout, const UnloadHandle* job,
                      const std::vector<std::string>& data_files, ManifestFile* written) {
  char name[kControlNameBytes];
  ControlFileName(job, name, sizeof name);
  OutputStream* stream = OpenFileStream(name, OpenMode::kReplaceOnClose);
  if (stream == nullptr) return false;
  if (written != nullptr) DigestStream(stream);
  ControlWriter writer;
  writer.stream = stream;
  writer.fill = 0;
  writer.failed = false;
  ControlWriter* out = &writer;
  const bool fixed_width = layout.fixed_width;

  // The comment names the program and its release with the banner's own first line.
  unsigned char release[kMaxStoredTextBytes] = {};
  LoadStoredText(StoredText::kBannerLine1, release);
  out->Printf("--\n-- %s\n-- Loader control file written with the unload of %s\n--\n",
              reinterpret_cast<const char*>(release), job->table);
  std::memset(release, 0, sizeof release);

  WriteTableSketch(out, layout, job);
  const bool header = job->head && !fixed_width;
  // SKIP passes over the first file's header alone; with more files each one is skipped below.
  if (header && data_files.size() <= 1) {
    out->Printf("OPTIONS(BINDSIZE=%d,READSIZE=%d,SKIP=1,ERRORS=-1,ROWS=50000)\n", job->buffer,
                job->buffer);
  } else {
    out->Printf("OPTIONS(BINDSIZE=%d,READSIZE=%d,ERRORS=-1,ROWS=50000)\n", job->buffer,
                job->buffer);
  }
  out->Printf("LOAD DATA\n");
  for (const std::string& file : data_files) {
    const std::string quoted = QuotedLoaderFileName(file);
    if (fixed_width) {
      out->Printf("INFILE %s \"FIX %d\"\n", quoted.c_str(), layout.record_length);
    } else {
      out->Printf("INFILE %s \"STR X'", quoted.c_str());
      out->Hex(job->record, job->record_length);
      out->Printf("'\"\n");
    }
  }
  if (header && data_files.size() > 1) out->Printf("FIELD NAMES ALL FILES IGNORE\n");
  out->Printf("%s INTO TABLE %s\n", job->mode, job->table);
  // The separator is written in hexadecimal whatever it holds, a NUL byte included.
  out->Printf("FIELDS TERMINATED BY X'");
  out->Hex(job->field, job->field_length);
  out->Printf("'");
  if (!fixed_width && job->quote[0] != '\0') {
    out->Printf(" OPTIONALLY ENCLOSED BY ");
    out->Literal(job->quote, static_cast<int>(strnlen(job->quote, sizeof job->quote)));
    out->Printf(" ");
  }
  out->Printf(" TRAILING NULLCOLS \n(\n");
  WriteFieldList(out, layout);
  out->Printf("\n)\n");
  out->Flush();
  // Half a control file would load part of the data as if it were all of it: it is never put in
  // place.
  if (writer.failed) {
    DiscardStream(stream);
    return false;
  }
  StreamTally tally;
  if (CloseStream(stream, &tally) != 0) return false;
  if (written != nullptr) {
    written->name = name;
    written->kind = kControlFile;
    TakeTally(tally, written);
  }
  return true;
}

}  // namespace rowflume
