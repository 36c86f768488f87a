// The text of one field of one fetched row: separator, optional column name, NULL text, quotes,
// escapes with the double-byte guard, character translation, MySQL hex, client-side NUMBER and
// DATE conversion, long values, LOB file names and the fixed-width layout. The encoder appends
// straight into the run's output buffer and keeps no state between fields.
#pragma once

#include <array>
#include <cstdint>

#include "db/columns.h"
#include "db/oracle_types.h"
#include "job/job_record.h"
#include "output/output_buffer.h"

namespace rowflume {

constexpr int kMaxEscapePairs = 20;     // leading escf/esct positions taken
constexpr int kMaxTranslatePairs = 10;  // leading sedf/sedt positions translated
constexpr int kNumberTextBytes = 256;   // scratch for FormatOracleNumber; the longest text is 173
constexpr int kDateTextBytes = 20;      // 19 characters and a NUL

// Byte classes for escaping, built once per run: escaped[b] is non-zero when b is written as
// the escape character followed by replacement[b] (the escape character maps to itself).
struct EscapeTable {
  char escape;
  std::array<uint8_t, 256> escaped;
  std::array<uint8_t, 256> replacement;
  // The escaped bytes, each repeated over a 64-bit word, for scanning eight bytes at a time;
  // word_count is -1 when an escaped byte is 0x80 or above (the byte-wise scan is used then).
  uint64_t words[kMaxEscapePairs + 1];
  int word_count;
  // The only escaped byte when there is exactly one and it lies below 0x40, else -1. Such a
  // byte is never part of a double-byte character, so its escapes are simply its occurrences.
  int lone_byte;
};

// Translation map built once per run; identity for bytes that are not translated.
struct TranslateTable {
  std::array<uint8_t, 256> map;
};

// True when the two bytes form one double-byte character (GBK and relatives): the first 0x81 to
// 0xFE, the second 0x40 to 0x7E or 0x80 to 0xFE. Such pairs are never escaped.
bool IsDoubleBytePair(uint8_t first, uint8_t second);

// Leading positions, at most kMaxEscapePairs, at which both lists hold a non-zero byte.
int CountEscapePairs(const char* escf, const char* esct);
// Leading positions, at most limit, at which the two lists differ (equal bytes, both ends of
// the texts included, end the list). A from-list longer than the to-list maps to the byte 0.
int CountTranslatePairs(const char* sedf, const char* sedt, int limit);

// The escape character is always doubled; escf[k] becomes the escape character and esct[k].
void BuildEscapeTable(EscapeTable* table, char escape, const char* escf, const char* esct,
                      int pair_count);
// Bytes that escaping adds to the value.
int64_t CountEscapes(const char* value, int64_t length, const EscapeTable& table);
// Writes the escaped value to dest (room for length + CountEscapes bytes); returns bytes written.
int64_t CopyEscaped(char* dest, const char* value, int64_t length, const EscapeTable& table);

void BuildTranslateTable(TranslateTable* table, const char* sedf, const char* sedt);
// Replaces every byte in place, in one pass (a replaced byte is not translated again).
void TranslateChars(char* value, int64_t length, const TranslateTable& table);

// Decimal text of an Oracle internal NUMBER; fractions are written in whole base-100 pairs
// (12.5 gives 12.50). dest holds kNumberTextBytes. Returns characters written, 0 for no bytes.
int FormatOracleNumber(char* dest, const uint8_t* value, int length);
// "YYYY-MM-DD HH:MI:SS" of an Oracle internal 7-byte DATE; 0 when fewer than 7 bytes.
int FormatOracleDate(char* dest, const uint8_t* value, int length);

// Writes the value of a LOB locator column (at row_idx of the fetched array) to a file and puts
// the file's name into name (capacity name_capacity). row_number counts the rows the job
// completed before this one, over all its output files, so that it names each row once;
// position is the 0-based select-list position.
// Returns the name length, or -1 when the value was not written.
using LobFileWriter = int (*)(void* context, ColumnDesc* column, int row_idx, uint64_t row_number,
                              int position, char* name, int name_capacity);

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
  int quote_length;  // up to the first NUL byte
  bool escaping;     // escape character is not a space
  EscapeTable escapes;
  bool translating;  // sedf and sedt differ in a leading position
  TranslateTable translation;
  int format;                // the job's `format`: kTextFormat, kMySqlFormat or kOracleFormat
  bool fixed_layout;         // `field` starts with a space
  int longest_name;          // longest column name, for the aligned names of colsep layouts
  LobFileWriter lob_writer;  // set by the loop; without one every LOB value fails
  void* lob_context;
  uint64_t row_number;  // rows the job completed before this row, set by the loop per row
  // Per select-list position, what the common text field needs (quote, escapes, translation),
  // worked out on its first use; 0 until then.
  std::array<uint8_t, kMaxColumns> text_plan;
};

void InitFieldEncoder(FieldEncoder* encoder, const UnloadHandle* job, OutputBuffer* out,
                      const ColumnDesc* head);

// The worst-case size of one encoded field of the column, cached in its size_cache.
int64_t WorstCaseFieldSize(const FieldEncoder& encoder, ColumnDesc* column);

// Appends the field of column at row row_idx of the fetched array; position is the 0-based
// select-list position. A failed flush leaves out->failed set.
void EncodeField(FieldEncoder* encoder, ColumnDesc* column, int row_idx, int position);

}  // namespace rowflume
