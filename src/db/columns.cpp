#include "db/columns.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/messages.h"
#include "db/oracle_types.h"

namespace rowflume {
namespace {

constexpr int kMaxWidthEntry = 1048576;
constexpr uint32_t kFetchBufferBytes = 10485760;  // define buffers of one fetch, all columns
constexpr uint32_t kMinArray = 5;
constexpr int kLongLengthBytes = 4;  // the length word in front of a long value

// Splits the `width` text at ":" (empty pieces skipped) into per-position widths.
void ParseWidthList(const char* text, int32_t* widths) {
  int position = 0;
  const char* piece = text;
  while (*piece != '\0' && position < kMaxColumns) {
    const char* end = std::strchr(piece, ':');
    size_t length = end != nullptr ? static_cast<size_t>(end - piece) : std::strlen(piece);
    if (length > 0) {
      char number[32] = {0};
      std::memcpy(number, piece, length < sizeof number - 1 ? length : sizeof number - 1);
      long value = std::strtol(number, nullptr, 10);
      widths[position++] = static_cast<int32_t>(value > kMaxWidthEntry ? kMaxWidthEntry : value);
    }
    if (end == nullptr) break;
    piece = end + 1;
  }
}

// The width numbers have always had: kept wherever every value of the column fits it, so that
// the fixed-width files and control files of ordinary tables keep their layout.
int32_t CustomaryNumberWidth(const ColumnDesc* column) {
  constexpr int32_t kWithoutPrecision = 46;
  return column->precision == 0 ? kWithoutPrecision
                                : column->precision + 2 + (column->scale != 0 ? 1 : 0);
}

// Chooses the define type, widths and flags of one described column from its row of the type
// table; listed_width is the column's `width` entry, 0 when none.
void ApplyTypeTable(ColumnDesc* column, int32_t listed_width, int client_max_bytes,
                    const UnloadHandle* job) {
  const OracleType& type = LookupType(column->described_type);
  const bool safe = job->safe != 0;
  const bool client = job->client != 0;
  const int32_t long_bytes = static_cast<int32_t>(job->long_limit);
  auto listed = [&](int32_t width) { return listed_width > 0 ? listed_width : width; };
  auto grown = [&](int32_t width) {
    return safe && type.grows_when_safe ? width + kSafeMargin : width;
  };
  int32_t width = column->define_width;  // the described data size
  column->quotable = type.quotable ? 1 : 0;
  column->hex = type.mysql_hex ? 1 : 0;
  column->define_type =
      static_cast<int16_t>(type.define_type != 0 ? type.define_type : column->described_type);
  switch (type.family) {
    case TypeFamily::kNumber: {
      const int32_t longest = LongestNumberText(column->precision, column->scale);
      const int32_t customary = CustomaryNumberWidth(column);
      const int32_t text_width = grown(listed(customary > longest ? customary : longest));
      if (client) {
        column->define_type = SQLT_NUM;
        column->define_width = 21;
        // The text written from the bytes has a zero before the point and fractions in pairs;
        // a fixed-width field must hold the longest, whatever the `width` entry says, or the
        // records after it would shift.
        const int32_t client_longest = LongestClientNumberText(column->precision, column->scale);
        column->display_width = text_width > client_longest ? text_width : client_longest;
        return;  // the final limit applies to what is fetched, not to the display width
      }
      width = text_width;
      break;
    }
    case TypeFamily::kDate:
      if (client) {
        column->define_type = SQLT_DAT;
        column->define_width = 7;
        column->display_width = 19;
        return;
      }
      width = grown(listed(type.text_width));
      break;
    case TypeFamily::kLob:
      if (job->lob != 0) {
        // One locator per row; the slot holds the locator's address, whatever the pointer size.
        // In the data the value stands as its LOB file name, so a fixed-width record reserves
        // the name's width for it, a NULL value included.
        column->define_type = column->described_type;
        column->hex = 0;
        column->define_width = static_cast<int32_t>(sizeof(OCILobLocator*));
        column->display_width = kLobNameWidth;
        return;
      }
      width = listed(long_bytes);
      break;
    case TypeFamily::kLong:
    case TypeFamily::kLongRaw:
      width = listed(long_bytes);
      break;
    case TypeFamily::kRaw:
      width = grown(listed(width));
      break;
    case TypeFamily::kText:
      // Character columns: `safe` doubles the width (a character may take more bytes in the
      // client's character set than in the server's), never beyond the largest column.
      width = listed(width == 0 ? kMaxTextWidth : width);
      if (safe) width *= 2;
      if (width > kMaxTextWidth) width = kMaxTextWidth;
      // A client converts the text into its own set, where each of the column's characters
      // may take its widest bytes. The fetch holds that many, and so do the fixed-width
      // records and the control file, or converted text would be cut to the column's own
      // width. A `width` entry is taken as given.
      if (listed_width == 0 && column->char_size > 0) {
        int32_t converted = static_cast<int32_t>(column->char_size) * client_max_bytes;
        if (converted > kMaxConvertedTextBytes) converted = kMaxConvertedTextBytes;
        if (converted > width) width = converted;
      }
      break;
    case TypeFamily::kTimestamp:
    case TypeFamily::kTimestampTz:
      // Their fractional precision is described as the scale.
      width = grown(listed(TimestampTextWidth(type, column->scale)));
      break;
    case TypeFamily::kBinaryFloat:
    case TypeFamily::kRowid:
    case TypeFamily::kInterval:
      width = grown(listed(type.text_width));
      break;
  }
  column->define_width = width;
  column->display_width = width;
}

// Reads the described attributes of select-list position (from 1) into column: 0, or -1 after the
// client's error is reported. client_charset is the client's character set.
int ReadDescribedColumn(DbSession* session, OCIStmt* statement, int position, ub2 client_charset,
                        ColumnDesc* column) {
  const OciApi* oci = session->oci;
  void* parameter = nullptr;
  ub2 data_type = 0;
  OraText* name = nullptr;
  ub4 name_length = 0;
  ub2 data_size = 0;
  sb2 precision = 0;
  sb1 scale = 0;
  if (oci->ParamGet(statement, OCI_HTYPE_STMT, session->error, &parameter,
                    static_cast<ub4>(position)) != OCI_SUCCESS ||
      oci->AttrGet(parameter, OCI_DTYPE_PARAM, &data_type, nullptr, OCI_ATTR_DATA_TYPE,
                   session->error) != OCI_SUCCESS ||
      oci->AttrGet(parameter, OCI_DTYPE_PARAM, &name, &name_length, OCI_ATTR_NAME,
                   session->error) != OCI_SUCCESS ||
      oci->AttrGet(parameter, OCI_DTYPE_PARAM, &data_size, nullptr, OCI_ATTR_DATA_SIZE,
                   session->error) != OCI_SUCCESS ||
      oci->AttrGet(parameter, OCI_DTYPE_PARAM, &precision, nullptr, OCI_ATTR_PRECISION,
                   session->error) != OCI_SUCCESS ||
      oci->AttrGet(parameter, OCI_DTYPE_PARAM, &scale, nullptr, OCI_ATTR_SCALE, session->error) !=
          OCI_SUCCESS) {
    ReportError(session);
    return -1;
  }
  column->parameter = static_cast<OCIParam*>(parameter);
  column->define_type = static_cast<int16_t>(data_type);
  column->described_type = static_cast<int16_t>(data_type);
  column->name_text = name;
  // Names longer than the record holds (expressions without an alias) are cut to 30 bytes.
  column->name_length = name_length > 30 ? 30 : name_length;
  if (name != nullptr) std::memcpy(column->name, name, column->name_length);
  column->define_width = data_size;
  column->precision = precision;
  column->scale = scale;
  // Character data carries its form: a national LOB must be read under its own, and only
  // character types have one (a client may refuse the attribute on others).
  if (data_type == SQLT_CHR || data_type == SQLT_AFC || data_type == SQLT_CLOB) {
    ub1 form = 0;
    if (oci->AttrGet(parameter, OCI_DTYPE_PARAM, &form, nullptr, OCI_ATTR_CHARSET_FORM,
                     session->error) != OCI_SUCCESS) {
      ReportError(session);
      return -1;
    }
    column->charset_form = form;
  }
  // Text reaches the client converted from the column's set into the client's. Its length in
  // characters sizes the fetch where the sets differ; text already in the client's set keeps
  // its byte size.
  if (data_type == SQLT_CHR || data_type == SQLT_AFC) {
    ub2 column_charset = 0;
    ub2 char_size = 0;
    if (oci->AttrGet(parameter, OCI_DTYPE_PARAM, &column_charset, nullptr, OCI_ATTR_CHARSET_ID,
                     session->error) != OCI_SUCCESS ||
        oci->AttrGet(parameter, OCI_DTYPE_PARAM, &char_size, nullptr, OCI_ATTR_CHAR_SIZE,
                     session->error) != OCI_SUCCESS) {
      ReportError(session);
      return -1;
    }
    if (column_charset != client_charset) column->char_size = char_size;
  }
  return 0;
}

// Sizes one described column for the fetch: its define type and widths from the type table and
// its `width` entry (listed_width, 0 when none), bounded by `long`. *row_bytes receives the bytes
// it takes in one row of the fetch buffers. False when it cannot be fetched at all (reported).
bool SizeForFetch(DbSession* session, ColumnDesc* column, int32_t listed_width,
                  int client_max_bytes, const UnloadHandle* job, uint32_t* row_bytes) {
  ApplyTypeTable(column, listed_width, client_max_bytes, job);
  const bool locator = IsLobLocator(column->define_type);
  // A client reads a BFILE only through its locator (it refuses the long-value define with
  // ORA-00932), and inline values are not read through locators: refused before any fetch.
  if (column->described_type == SQLT_BFILEE && !locator) {
    SessionMessageFormat(session, messages::kBfileNeedsLobFiles, column->name);
    return false;
  }
  const bool long_value = column->define_type == SQLT_LVC || column->define_type == SQLT_LVB;
  // `long` bounds long values, a `width` entry for one included, and stands in for a size
  // describe did not give; every other column keeps the width its values need.
  if (!locator && ((long_value && column->define_width > static_cast<int32_t>(job->long_limit)) ||
                   column->define_width == 0)) {
    column->define_width = static_cast<int32_t>(job->long_limit);
    column->display_width = column->define_width;
  }
  // A long value's slot starts with its 4-byte length, so the slot is that much wider than
  // the largest value: a value of exactly `long` bytes is then fetched whole.
  if (long_value) column->define_width += kLongLengthBytes;
  // A LOB fetched through a locator stands as a file name in the row; every other column,
  // LOBs fetched inline included, takes its whole define width in the fetch buffers.
  *row_bytes = locator ? kLobNameWidth : static_cast<uint32_t>(column->define_width);
  return true;
}

// The rows of one array fetch: the job's `array`, lowered so that the define buffers of all
// columns stay within kFetchBufferBytes, and held to kMinArray..kMaxFetchRows.
uint32_t DecideFetchRows(uint32_t asked, uint32_t row_width) {
  uint32_t rows = asked;
  uint32_t limit = kFetchBufferBytes / row_width;
  if (rows > limit) rows = limit;
  if (rows > static_cast<uint32_t>(kMaxFetchRows)) rows = kMaxFetchRows;
  if (rows < kMinArray) rows = kMinArray;
  return rows;
}

// Allocates every column's define buffer for rows rows (a locator in each slot of a LOB fetched
// through one) and defines it by position: 0, or -1 on failure, reported.
int DefineFetchBuffers(DbSession* session, OCIStmt* statement, ColumnDesc* head, uint32_t rows) {
  const OciApi* oci = session->oci;
  int position = 0;
  for (ColumnDesc* column = head->next; column != nullptr; column = column->next) {
    ++position;
    size_t bytes = static_cast<size_t>(rows) * static_cast<size_t>(column->define_width);
    column->define_buffer = static_cast<char*>(std::calloc(bytes > 0 ? bytes : 1, 1));
    if (column->define_buffer == nullptr) return -1;
    const bool locator = IsLobLocator(column->define_type);
    if (locator) {
      auto** slots = reinterpret_cast<OCILobLocator**>(column->define_buffer);
      const ub4 descriptor_type =
          column->define_type == SQLT_BFILEE ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
      for (uint32_t row = 0; row < rows; ++row) {
        void* locator_handle = nullptr;
        // A fetch into a slot without a locator would fail later or worse; the locators made
        // so far go with the environment at logoff.
        if (oci->DescriptorAlloc(session->environment, &locator_handle, descriptor_type, 0,
                                 nullptr) != OCI_SUCCESS ||
            locator_handle == nullptr) {
          SessionMessage(session, messages::kNoLobLocator);
          return -1;
        }
        slots[row] = static_cast<OCILobLocator*>(locator_handle);
      }
    }
    void* define = nullptr;
    if (oci->DefineByPos(statement, reinterpret_cast<OCIDefine**>(&define), session->error,
                         static_cast<ub4>(position), column->define_buffer, column->define_width,
                         static_cast<ub2>(column->define_type), column->indicators,
                         column->returned_lengths, column->return_codes,
                         OCI_DEFAULT) != OCI_SUCCESS) {
      ReportError(session);
      return -1;
    }
    column->define = static_cast<OCIDefine*>(define);
  }
  return 0;
}

}  // namespace

int DescribeColumns(DbSession* session, OCIStmt* statement, ColumnDesc* head, const char* width,
                    const UnloadHandle* job, uint32_t* fetch_rows) {
  *fetch_rows = job->array;
  const OciApi* oci = session->oci;
  int32_t widths[kMaxColumns] = {0};
  ParseWidthList(width, widths);

  // A client failure here ends the run with the describe result; its error is reported, so the
  // run never fails without saying why.
  ub4 count = 0;
  if (oci->AttrGet(statement, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT,
                   session->error) != OCI_SUCCESS) {
    ReportError(session);
    return -1;
  }
  // Columns past the limit would be dropped from every row without a trace: refused instead.
  if (count > static_cast<ub4>(kMaxColumns)) {
    SessionMessageFormat(session, messages::kTooManyColumns, count, kMaxColumns);
    return -1;
  }
  const int described = static_cast<int>(count);
  // The client's set decides how many bytes a converted character may take.
  ub2 client_charset = 0;
  if (oci->AttrGet(session->environment, OCI_HTYPE_ENV, &client_charset, nullptr,
                   OCI_ATTR_ENV_CHARSET_ID, session->error) != OCI_SUCCESS) {
    ReportError(session);
    return -1;
  }
  const int client_max_bytes = CharsetMaxBytes(client_charset);
  ColumnDesc* last = head;
  uint32_t row_width = 1;
  for (int position = 1; position <= described; ++position) {
    auto* column = static_cast<ColumnDesc*>(std::calloc(1, sizeof(ColumnDesc)));
    if (column == nullptr) return -1;
    if (ReadDescribedColumn(session, statement, position, client_charset, column) != 0) {
      std::free(column);
      return -1;
    }
    last->next = column;
    last = column;
    uint32_t row_bytes = 0;
    if (!SizeForFetch(session, column, widths[position - 1], client_max_bytes, job, &row_bytes)) {
      return -1;
    }
    row_width += row_bytes;
  }

  row_width += static_cast<uint32_t>(job->record_length);
  *fetch_rows = DecideFetchRows(job->array, row_width);
  if (DefineFetchBuffers(session, statement, head, *fetch_rows) != 0) return -1;
  return static_cast<int>(count);
}

void ReportTruncatedColumns(DbSession* session, ColumnDesc* const* columns, int count,
                            uint32_t rows) {
  constexpr uint16_t kValueTruncated = 1406;  // ORA-01406: fetched column value was truncated
  if (rows > static_cast<uint32_t>(kMaxFetchRows)) rows = kMaxFetchRows;
  for (int position = 0; position < count; ++position) {
    const ColumnDesc* column = columns[position];
    uint32_t row = 0;
    while (row < rows && column->return_codes[row] != kValueTruncated) ++row;
    if (row == rows) continue;
    // A long value's slot holds its length word besides the value.
    const bool long_value = column->define_type == SQLT_LVC || column->define_type == SQLT_LVB;
    const int32_t bytes = column->define_width - (long_value ? kLongLengthBytes : 0);
    const char* remedy = messages::kRaiseWidth;
    switch (LookupType(column->described_type).family) {
      case TypeFamily::kLong:
      case TypeFamily::kLongRaw:
        remedy = messages::kRaiseLongLimit;
        break;
      case TypeFamily::kLob:
        remedy = messages::kRaiseLongOrLobFiles;
        break;
      default:
        break;
    }
    SessionMessageFormat(session, messages::kLongerThanFetchWidth, column->name, bytes, remedy);
  }
}

void FreeColumns(DbSession* session, ColumnDesc* head) {
  ColumnDesc* column = head->next;
  while (column != nullptr) {
    ColumnDesc* next = column->next;
    if (column->define != nullptr && session->oci != nullptr) {
      session->oci->HandleFree(column->define, OCI_HTYPE_DEFINE);
    }
    std::free(column->define_buffer);
    std::free(column);
    column = next;
  }
  head->next = nullptr;
}

}  // namespace rowflume
