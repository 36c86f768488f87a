// Internals of the field encoder, for its own files only (field_encoding.h is what others use):
// how a field at one position is planned, the room rule its quick paths keep, and the entry
// points the quick paths, the general path and the header line share.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>

#include "db/columns.h"
#include "output/field_encoding.h"

namespace rowflume {

constexpr char kUnhexOpen[] = "unhex(";

// FieldPlan::flags.
constexpr uint8_t kPlanQuoted = 1;
constexpr uint8_t kPlanEscaped = 2;
constexpr uint8_t kPlanTranslated = 4;
constexpr uint8_t kPlanPairs = 8;  // double-byte characters are copied unescaped
constexpr uint8_t kPlanLone = 16;  // the table escapes one byte only: escaped in one pass

// The paths a field can take (FieldPlan::kind). The quick ones write only a field that fits the
// room left with no flush at all, which is where the general path would not have flushed either;
// any other field goes to EncodeTextField and the general path, so the flushes (and with them
// the sizes at which output files switch) are those of the general path alone.
enum PlanKind : uint8_t {
  kKindGeneral,    // a layout or type only the general path knows
  kKindTextSlow,   // what the quick path leaves to EncodeTextField: translated text, long quotes
  kKindText,       // a value fetched as text, in a delimited layout without names
  kKindHex,        // the same, written as unhex('...') in MySQL statements
  kKindConverted,  // a NUMBER or DATE converted here, in a delimited layout without names
  kKindNamed,      // text, a NUMBER or a DATE after its column name (FORM, SEARCH)
  kKindFixed,      // the same, padded to the display width (a longer one cut and counted)
};

// Which loop EncodeRow gives the rows of a planned column array (FieldEncoder::row_path).
// The delimited layouts are 0, tested against memory in one instruction.
enum RowPath : uint8_t {
  kRowQuick,    // the delimited layouts
  kRowLayout,   // the colsep and fixed layouts
  kRowGeneral,  // every field takes the general path
};

// Bytes whole-word stores may write past the end of a field: a value's last word and the two
// words of its last hex digits.
constexpr int64_t kStoreSlack = 16;

// The room rule of the quick paths: the bytes that must be left in the buffer before a quick path
// writes a field with no check of its own. general_need is what the general path asks to fit
// before it writes the same field without a flush on the way (its checks flush when the fill
// reaches the capacity, hence the one byte more), 0 where it asks nothing; field_bytes is the
// most the quick path itself writes, to which the whole-word stores add their slack. Taking the
// field quickly is then the same as the general path taking it without a flush.
constexpr int64_t QuickPathRoom(int64_t general_need, int64_t field_bytes) {
  return std::max(general_need + 1, field_bytes + kStoreSlack);
}

// Checks, in builds with asserts, that a quick path wrote from start to end within the room it
// was planned with, store slack included.
inline void AssertWithinRoom(int64_t room, const char* start, const char* end) {
  assert(end - start + kStoreSlack <= room);
  (void)room;
  (void)start;
  (void)end;
}

// The worst-case size of one encoded field of the column under the encoder's options: what the
// general path makes sure fits (besides the escapes it counts) before it writes the field.
int64_t WorstCaseFieldSize(const FieldEncoder& encoder, const ColumnDesc* column);

// The same, read from the plan of the position when it was made for this column.
inline int64_t PlannedWorstCase(const FieldEncoder& encoder, const ColumnDesc* column,
                                int position) {
  if (position < kMaxColumns) {
    const FieldPlan& plan = encoder.plans[static_cast<size_t>(position)];
    if (plan.column == column) return plan.worst;
  }
  return WorstCaseFieldSize(encoder, column);
}

// Whether a value of the column may hold bytes to escape; long_value when it is fetched as a
// long value (a LONG, or a LOB fetched inline).
bool MayNeedEscapes(const ColumnDesc* column, bool long_value);
// Whether the column's values may take a form of their own in INSERT statements, which only the
// general path writes: in Oracle's, dates and timestamps with their format, binary data through
// HEXTORAW, text that may need more than one literal piece; in MySQL's, times with a zone.
// escaped: its values are escaped.
bool TakesStatementForm(const FieldEncoder* encoder, const ColumnDesc* column, bool escaped);
// Writes such a value of the column (not NULL, after its separator): false, having written
// nothing, for a value that needs no form of its own (text of one piece, a number, a time
// without a zone).
bool EmitStatementValue(FieldEncoder* encoder, const ColumnDesc* column, const char* value,
                        int64_t length, bool keep_pairs);
// Whether escaping the column's values copies double-byte characters whole.
bool KeepsPairs(const FieldEncoder* encoder, const ColumnDesc* column);

// Makes the plan of the column at position (below kMaxColumns), on its first use there.
void PlanField(FieldEncoder* encoder, ColumnDesc* column, int position);
// Plans every field of the column array and returns the RowPath its rows take.
uint8_t PlanRowPath(FieldEncoder* encoder, ColumnDesc* const* columns, int count);

// The general path: every layout, type and buffer size, with the flushes the output depends on.
void EncodeGeneralField(FieldEncoder* encoder, ColumnDesc* column, int row_idx, int position);
// Counts a fixed-width field cut to width bytes and keeps the first one's column; returns width.
int64_t CountCut(FieldEncoder* encoder, const ColumnDesc* column, int64_t width);
// Writes the (possibly escaped) value, cut after limit output bytes when limit >= 0; escapes
// as CountEscapes counted them with keep_pairs. Returns the bytes written.
int64_t EmitValue(FieldEncoder* encoder, const char* value, int64_t length, int64_t escapes,
                  int64_t limit, bool keep_pairs);

}  // namespace rowflume
