// The text of one field of one fetched row: separator, optional column name, NULL text, quotes,
// escapes with the double-byte guard, character translation, MySQL hex, client-side NUMBER and
// DATE conversion, long values, LOB file names and the fixed-width layout; and the names of the
// header line. The encoder appends straight into the run's output buffer and keeps no state
// between fields but the count of fixed-width fields it had to cut. Its planning, quick paths and
// general path are internals (output/field_plan.h); the number and date texts are
// output/oracle_values.h.
#pragma once

#include <array>
#include <cstdint>

#include "db/columns.h"
#include "db/oracle_types.h"
#include "job/job_record.h"
#include "output/escaping.h"
#include "output/oracle_values.h"
#include "output/output_buffer.h"

namespace rowflume {

// Writes the value of a LOB locator column (at row_idx of the fetched array) to a file and puts
// the file's name into name (capacity name_capacity). row_number counts the rows the job
// completed before this one, over all its output files, so that it names each row once;
// position is the 0-based select-list position.
// Returns the name length, or -1 when the value was not written.
using LobFileWriter = int (*)(void* context, ColumnDesc* column, int row_idx, uint64_t row_number,
                              int position, char* name, int name_capacity);

// How the field at one select-list position is written, worked out on its first use (the
// encoder keeps no state between fields beyond this). The rooms are what must be left in the
// buffer for a quick path to write the field without any flush, by the rule of QuickPathRoom
// (output/field_plan.h).
struct FieldPlan {
  const ColumnDesc* column;  // the column the plan was made for; none until then
  uint64_t prefix;           // separator and opening quote, when prefix_length <= 8
  uint64_t suffix;           // closing quote
  uint64_t null_text;        // separator and NULL text, when null_length <= 8
  int64_t room;              // for a value
  int64_t null_room;         // for a NULL
  int64_t worst;             // the general path's worst case for the column (WorstCaseFieldSize)
  int32_t lead_offset;       // in FieldEncoder::leads: the lead of a colsep or fixed layout
  uint16_t lead_length;      // separator, name, its padding and colsep, written before a value
  uint8_t kind;              // which path writes the field
  uint8_t flags;             // quoted, escaped, translated, pairs kept
  uint8_t prefix_length;
  uint8_t suffix_length;
  uint8_t null_length;
};

// The leads of one run's positions, one after another: a full table of the widest leads
// (FORM's are under 64 bytes) for every position. A position whose lead no longer fits takes the
// general path. The last 16 bytes stay zero so that whole words can be read past any lead.
constexpr int kLeadBytes = 65536;
constexpr int kLeadReadSlack = 16;

// Everything the encoder reads, set up once per run from the job options.
struct FieldEncoder {
  OutputBuffer* out;
  const char* field;
  int field_length;
  const char* colsep;
  int colsep_length;
  const char* null_text;
  int null_length;
  const char* quote;
  int quote_length;    // up to the first NUL byte
  const char* record;  // record separator: a header name holding one of its bytes is quoted
  int record_length;
  bool escaping;  // escape character is not a space
  EscapeTable escapes;
  bool double_byte;  // the client's character set is double-byte: text keeps its pairs whole
  bool translating;  // the sedf/sedt translation changes some byte
  TranslateTable translation;
  int format;                // the job's `format`: kTextFormat, kMySqlFormat or kOracleFormat
  bool fixed_layout;         // `field` starts with a space
  int longest_name;          // longest column name, for the aligned names of colsep layouts
  LobFileWriter lob_writer;  // set by the loop; without one every LOB value fails
  void* lob_context;
  uint64_t row_number;  // rows the job completed before this row, set by the loop per row
  // Fixed-width fields written cut to their width (a value, NULL text or number text longer than
  // the field), and the first one's column name and width; the run stops at the row of the first.
  uint64_t cut_fields;
  const char* cut_column;  // none until a field is cut
  int32_t cut_width;
  // The first value an INSERT statement cannot carry as fetched: its column, and its bytes for
  // binary data longer than kOracleHexBytes (Oracle), or -1 for datetime text not in the session
  // format the statement is written for. The run stops at its row. None until then.
  const char* refused_column;
  int64_t refused_bytes;
  std::array<FieldPlan, kMaxColumns> plans;  // per select-list position
  std::array<char, kLeadBytes + kLeadReadSlack> leads;
  int leads_used;
  // The column array EncodeRow last planned, and which loop its rows take: the general path for
  // every field, the quick paths of the delimited layouts, or those of the colsep and fixed ones.
  ColumnDesc* const* planned_row;
  int planned_count;
  uint8_t row_path;
};

// Oracle statements: a string literal holds at most 4000 bytes in the database's character set.
// Text is written in literal pieces of at most kOraclePieceBytes bytes as written (escapes
// included), joined as TO_CLOB('...')||TO_CLOB('...') once it is longer than one piece: no
// character grows more than fourfold in conversion, so a piece never exceeds the limit in any
// database set. Binary data is written as HEXTORAW('...'), which holds at most kOracleHexBytes
// bytes; a longer value stops the run (refused_column) rather than be cut.
constexpr int64_t kOraclePieceBytes = 1000;
constexpr int64_t kOracleHexBytes = 2000;

// client_charset names the session's client character set (ClientCharsetName), which decides
// whether text keeps its double-byte characters whole.
void InitFieldEncoder(FieldEncoder* encoder, const UnloadHandle* job, OutputBuffer* out,
                      const ColumnDesc* head, const char* client_charset);

// Appends the field of column at row row_idx of the fetched array; position is the 0-based
// select-list position. A failed flush leaves out->failed set.
void EncodeField(FieldEncoder* encoder, ColumnDesc* column, int row_idx, int position);
// Appends the fields of row row_idx of the count columns, columns[k] at position k: the row's
// part between `rowpre` and `rowsuf`, the same bytes as EncodeField for each in turn. The array
// keeps its columns for the run (the encoder plans by it).
void EncodeRow(FieldEncoder* encoder, ColumnDesc* const* columns, int count, int row_idx);

// Appends one name of the header line, `prehead` and the column name (the caller writes the
// separators). Under a layout that quotes text, a name holding the quote, a byte of the field or
// record separator, a line break or a byte that escaping changes is quoted and escaped as a text
// value is; every other name is written bare, as are all names when text is not quoted.
void EncodeHeaderName(FieldEncoder* encoder, const char* prehead, int prehead_length,
                      const char* name, int name_length);

}  // namespace rowflume
