// The select-list columns of one executed query: their described and define types, widths,
// flags and the array-fetch buffers the client library fills. Describing and freeing the list
// belongs to the database side; the unload loop and the encoder only read it.
#pragma once

#include <cstdint>
#include <cstring>

#include "db/oracle_types.h"
#include "db/session.h"
#include "job/job_record.h"
#include "oci/oci_api.h"

namespace rowflume {

constexpr int kMaxColumns = 1023;    // select-list columns that are described
constexpr int kMaxFetchRows = 2000;  // rows of one array fetch; size of the per-row arrays

// One select-list column. The list starts at a head record whose only used field is next.
struct ColumnDesc {
  OCIDefine* define;       // from OCIDefineByPos
  OCIParam* parameter;     // select-list parameter, used only while describing
  uint8_t hex;             // character, long or raw data: written through unhex( for MySQL
  int16_t define_type;     // external type passed to OCIDefineByPos
  int16_t described_type;  // OCI_ATTR_DATA_TYPE of the column
  char name[32];           // column name, NUL-terminated, up to 30 bytes
  OraText* name_text;      // the client library's name text, valid while describing
  uint32_t name_length;    // bytes of name
  int32_t define_width;    // bytes reserved per row in define_buffer
  int32_t display_width;   // width in fixed-width output and in the control file
  int16_t precision;       // OCI_ATTR_PRECISION
  int16_t scale;           // OCI_ATTR_SCALE, sign-extended
  int16_t quotable;        // 1 for every described type but the numeric ones
  uint8_t charset_form;    // OCI_ATTR_CHARSET_FORM of character types and CLOBs, else 0
  uint16_t char_size;      // OCI_ATTR_CHAR_SIZE of character types; 0 when not given
  char* define_buffer;     // array rows x define_width bytes
  int16_t indicators[kMaxFetchRows];         // -1 for a NULL value
  uint16_t returned_lengths[kMaxFetchRows];  // bytes returned per row
  uint16_t return_codes[kMaxFetchRows];      // column return code per row
  ColumnDesc* next;  // next column in select-list order; none after the last
};

// The bytes of the value at row_idx of the fetched array: a long value's after its 4-byte length,
// any other's as long as the client returned, and never past the column's slot whatever length
// was reported. *length is 0 for a NULL and for a LOB locator, which holds no value bytes.
inline char* ColumnValue(const ColumnDesc* column, int row_idx, int64_t* length) {
  const int64_t width = column->define_width > 0 ? column->define_width : 0;
  char* slot = column->define_buffer + static_cast<size_t>(row_idx) * static_cast<size_t>(width);
  *length = 0;
  if (column->indicators[row_idx] == -1 || IsLobLocator(column->define_type) || width == 0) {
    return slot;
  }
  if (column->define_type == SQLT_LVC || column->define_type == SQLT_LVB) {
    if (width < 4) return slot;
    uint32_t stored = 0;
    std::memcpy(&stored, slot, 4);
    *length = stored > width - 4 ? width - 4 : stored;
    return slot + 4;
  }
  const int64_t returned = column->returned_lengths[row_idx];
  *length = returned > width ? width : returned;
  return slot;
}

// Builds the column list after head for the executed statement, with the define types and widths
// of the type table (db/oracle_types.h) and the `width` list, and defines the fetch buffers for
// the rows of one array fetch, which it decides: the job's `array`, lowered to what the buffers
// hold. *fetch_rows receives that decision (the job's `array` until it is made); every fetch of
// the statement must ask for at most that many rows. Describing only describes: the control
// file is the run's next step. Returns the column count, or -1 on failure, reported (records
// already linked are left for FreeColumns).
int DescribeColumns(DbSession* session, OCIStmt* statement, ColumnDesc* head, const char* width,
                    const UnloadHandle* job, uint32_t* fetch_rows);

// The error of a fetch that cut a value to its fetch width (ORA-24345).
constexpr int kTruncatedFetch = 24345;

// After a fetch that failed with kTruncatedFetch and delivered rows rows: names, once each, the
// columns among the count given whose value was cut in one of those rows (return code
// ORA-01406), with the bytes it is fetched with and the option that lets it through.
void ReportTruncatedColumns(DbSession* session, ColumnDesc* const* columns, int count,
                            uint32_t rows);

// Frees every column after head with its define handle and buffer; head->next becomes none.
void FreeColumns(DbSession* session, ColumnDesc* head);

}  // namespace rowflume
