#include "db/columns.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "output/control_file.h"
#include "output/insert_text.h"

namespace rowflume {
namespace {

constexpr int kMaxWidthEntry = 1048576;
constexpr uint32_t kFetchBufferBytes = 10485760;  // define buffers of one fetch, all columns
constexpr uint32_t kMinArray = 5;
constexpr int kLobNameWidth = 30;    // a LOB file name stands in the data file in its place
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

bool SameIgnoringCase(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

bool IsLobLocator(int type) {
  return type == SQLT_CLOB || type == SQLT_BLOB || type == SQLT_BFILEE;
}

// Chooses the define type, widths and flags of one described column.
void ApplyTypeTable(ColumnDesc* column, int32_t listed_width, const UnloadHandle* job) {
  const bool safe = job->safe != 0;
  const bool client = job->client != 0;
  const bool lob_files = job->lob != 0;
  const int32_t long_bytes = static_cast<int32_t>(job->long_limit);
  auto listed = [&](int32_t width) { return listed_width > 0 ? listed_width : width; };
  auto safe_width = [&](int32_t width) { return safe ? width + 10 : width; };
  int32_t width = column->define_width;  // the described data size
  column->quotable = 1;
  switch (column->described_type) {
    case SQLT_NUM:
    case SQLT_VNU: {
      column->quotable = 0;
      int32_t text_width =
          column->precision == 0 ? 46 : column->precision + 2 + (column->scale != 0);
      text_width = safe_width(listed(text_width));
      if (client) {
        column->define_type = SQLT_NUM;
        column->define_width = 21;
        column->display_width = text_width;
        return;  // the final limit applies to what is fetched, not to the display width
      }
      column->define_type = SQLT_CHR;
      width = text_width;
      break;
    }
    case SQLT_LNG:
      column->define_type = SQLT_LVC;
      width = listed(long_bytes);
      column->hex = 1;
      break;
    case SQLT_RID:
    case SQLT_RDD:
      column->define_type = SQLT_CHR;
      width = safe_width(listed(18));
      break;
    case SQLT_DAT:
    case SQLT_ODT:
      if (client) {
        column->define_type = SQLT_DAT;
        column->define_width = 7;
        column->display_width = 19;
        return;
      }
      column->define_type = SQLT_CHR;
      width = safe_width(listed(19));
      break;
    case 15:
    case SQLT_BIN:
      width = safe_width(listed(width));
      column->hex = 1;
      break;
    case SQLT_LBI:
      column->define_type = SQLT_LVB;
      width = listed(long_bytes);
      column->hex = 1;
      break;
    case SQLT_CLOB:
    case SQLT_BFILEE:
    case SQLT_BLOB:
      if (lob_files) {
        // One locator per row; the slot holds the locator's address, whatever the pointer size.
        // In the data the value stands as its LOB file name, so a fixed-width record reserves
        // the name's width for it, a NULL value included.
        column->define_width = static_cast<int32_t>(sizeof(OCILobLocator*));
        column->display_width = kLobNameWidth;
        return;
      }
      column->define_type = column->described_type == SQLT_BLOB ? SQLT_LVB : SQLT_LVC;
      width = listed(long_bytes);
      column->hex = 1;
      break;
    case 180:
    case SQLT_TIMESTAMP:
      column->define_type = SQLT_CHR;
      width = safe_width(listed(26));
      break;
    case 181:
    case SQLT_TIMESTAMP_TZ:
    case SQLT_TIMESTAMP_LTZ:
      column->define_type = SQLT_CHR;
      width = safe_width(listed(33));
      break;
    case 182:
    case SQLT_INTERVAL_YM:
      column->define_type = SQLT_CHR;
      width = listed(20);
      break;
    case 183:
    case SQLT_INTERVAL_DS:
      column->define_type = SQLT_CHR;
      width = listed(30);
      break;
    default:
      column->define_type = SQLT_CHR;
      width = listed(width == 0 ? 4000 : width);
      if (safe) width *= 2;
      if (width > 4000) width = 4000;
      column->hex = 1;
      break;
  }
  column->define_width = width;
  column->display_width = width;
}

// Flags every column named in the comma-separated `unique` list; the first empty entry ends it.
// Entries are taken exactly: a blank after a comma belongs to the next name.
void FlagUniqueColumns(ColumnDesc* head, const char* unique, int unique_bytes) {
  TokenCursor tokens;
  StartTokens(&tokens, unique, static_cast<int>(strnlen(unique, unique_bytes)));
  for (int length = NextToken(&tokens); length > 0; length = NextToken(&tokens)) {
    const char* token = unique + tokens.start;
    for (ColumnDesc* column = head->next; column != nullptr; column = column->next) {
      if (column->name_length == static_cast<uint32_t>(length) &&
          SameIgnoringCase(column->name, token, static_cast<size_t>(length))) {
        column->unique = 1;
      }
    }
  }
}

}  // namespace

int DescribeColumns(DbSession* session, OCIStmt* statement, ColumnDesc* head, bool fixed_width,
                    const char* width, UnloadHandle* job) {
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
    char text[128];
    std::snprintf(text, sizeof text,
                  "ERROR -- The query has %u columns; at most %d can be unloaded\n", count,
                  kMaxColumns);
    SessionMessage(session, text);
    return -1;
  }
  const int described = static_cast<int>(count);
  ColumnDesc* last = head;
  uint32_t row_width = 1;
  for (int position = 1; position <= described; ++position) {
    auto* column = static_cast<ColumnDesc*>(std::calloc(1, sizeof(ColumnDesc)));
    if (column == nullptr) return -1;
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
      std::free(column);
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
    last->next = column;
    last = column;

    ApplyTypeTable(column, widths[position - 1], job);
    const bool locator = IsLobLocator(column->define_type);
    if (!locator && (column->define_width > static_cast<int32_t>(job->long_limit) ||
                     column->define_width == 0)) {
      column->define_width = static_cast<int32_t>(job->long_limit);
      column->display_width = column->define_width;
    }
    // A long value's slot starts with its 4-byte length, so the slot is that much wider than
    // the largest value: a value of exactly `long` bytes is then fetched whole.
    if (column->define_type == SQLT_LVC || column->define_type == SQLT_LVB) {
      column->define_width += kLongLengthBytes;
    }
    // A LOB fetched through a locator stands as a file name in the row; every other column,
    // LOBs fetched inline included, takes its whole define width in the fetch buffers.
    row_width += locator ? kLobNameWidth : static_cast<uint32_t>(column->define_width);
  }

  row_width += static_cast<uint32_t>(job->record_length);
  uint32_t limit = kFetchBufferBytes / row_width;
  if (job->array > limit) job->array = limit;
  if (job->array > static_cast<uint32_t>(kMaxFetchRows)) job->array = kMaxFetchRows;
  if (job->array < kMinArray) job->array = kMinArray;

  int position = 0;
  for (ColumnDesc* column = head->next; column != nullptr; column = column->next) {
    ++position;
    size_t bytes = static_cast<size_t>(job->array) * static_cast<size_t>(column->define_width);
    column->define_buffer = static_cast<char*>(std::calloc(bytes > 0 ? bytes : 1, 1));
    if (column->define_buffer == nullptr) return -1;
    const bool locator = IsLobLocator(column->define_type);
    if (locator) {
      auto** slots = reinterpret_cast<OCILobLocator**>(column->define_buffer);
      const ub4 descriptor_type =
          column->define_type == SQLT_BFILEE ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
      for (uint32_t row = 0; row < job->array; ++row) {
        void* locator_handle = nullptr;
        // A fetch into a slot without a locator would fail later or worse; the locators made
        // so far go with the environment at logoff.
        if (oci->DescriptorAlloc(session->environment, &locator_handle, descriptor_type, 0,
                                 nullptr) != OCI_SUCCESS ||
            locator_handle == nullptr) {
          SessionMessage(session, "ERROR -- Cannot allocate a LOB locator\n");
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

  if (job->unique[0] != '\0') FlagUniqueColumns(head, job->unique, sizeof job->unique);
  // The loader control file goes with text unloads, once per unload (from its first piece).
  if (job->table[0] != '\0' && job->format != kMySqlFormat && job->format != kOracleFormat &&
      job->piece == 1) {
    WriteControlFile(head, fixed_width, job);
  }
  return static_cast<int>(count);
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
