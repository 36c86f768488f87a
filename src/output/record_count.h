// Counting the rows of one data file from its bytes alone, the way the job's layout ends them:
// the layout taken from the job's options, and a streaming counter that also says when the bytes
// cannot be what that layout writes. Reading the files, and what a count that differs means, are
// the caller's; content scrambled with `crack` cannot be counted here.
//
// Where a row ends:
// - Delimited text (kTextFormat): at `rowsuf` followed by `record`, outside quoted values. The
//   header line ends the same way and is not counted.
// - Fixed width (`field` starting with a space): every record is fixed_record_length bytes, starts
//   with `rowpre` and ends with `rowsuf` and `record`; the file holds a whole number of them.
// - Oracle INSERT statements: one statement per row, ended by ")", `exec` and a line feed.
// - MySQL INSERT statements: a row is counted where its tuple opens, after the ") VALUES \n" of
//   its statement's head or after the "),\n(" between tuples; a statement ends with ")", `exec`
//   and a line feed, its last tuple's ")" or that of its ON DUPLICATE KEY UPDATE tail.
// The file is whole when it ends at a row end (a statement end) outside any quoted value.
//
// The count is exact (RecordCountIsExact) when no value can write a row end unprotected: every
// byte of the row end is escaped into bytes that are not of it, or every value that may hold one
// is quoted with a quote the layout escapes. Plain delimited text without quote or escape, FORM
// and SEARCH cannot protect theirs: there the bytes are searched for the row end alone, quotes and
// escapes being bytes like any other, so a value holding it adds rows (the count can exceed the
// rows, never fall below them) and a file the program wrote is never refused. Names are taken as
// they are: a column name in the header line, beside `colsep` or in an INSERT column list is
// assumed to hold no row end, no quote and no escape character; numbers, dates and LOB file
// names, which are never escaped, to hold no separator byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job/job_record.h"
#include "output/manifest.h"

namespace rowflume {

// What decides where one record ends, taken from the job's options.
struct RecordLayout {
  int32_t format = kTextFormat;  // kTextFormat, kMySqlFormat or kOracleFormat
  std::string record;            // record separator
  std::string field;             // field separator; a leading space makes the fixed-width layout
  std::string quote;             // quote text; empty for none
  char escape = ' ';             // escape character; a space for none
  std::string escf;              // bytes escaped besides the escape character itself
  std::string esct;              // what each of them becomes after the escape character
  std::string null;              // text of a NULL value
  std::string colsep;            // between a column name and its value
  std::string rowpre;
  std::string rowsuf;
  std::string exec;                 // ends each INSERT statement before its line feed
  int64_t fixed_record_length = 0;  // fixed width: bytes of one record, rowpre to record
  bool head = false;                // a header line stands first; never in the fixed-width layout
  bool double_byte = false;         // the client's character set keeps double-byte characters whole
};

// The layout a manifest records (output/manifest.h): head is cleared for a file the run appended
// to, which got no header line.
RecordLayout RecordLayoutOf(const ManifestLayout& written, bool appended);
// The layout of the job's data files, as its manifest would record it. fixed_record_length is read
// for the fixed-width layout only; double_byte is decided as the run decides it, from `charset`
// or NLS_LANG.
RecordLayout RecordLayoutOf(const UnloadHandle* job, int64_t fixed_record_length);

// True when the count of a file the program wrote in the layout is its number of rows, whatever
// the values hold (see the head of this file).
bool RecordCountIsExact(const RecordLayout& layout);

// Streaming: feeding a file in any chunking gives the same result.
class RecordCounter {
 public:
  explicit RecordCounter(const RecordLayout& layout);
  void Add(const char* bytes, size_t count);
  // The rows counted, header excluded (those so far when the bytes are refused). False, with a
  // short reason in problem (may be null), when the bytes cannot be a whole file of the layout.
  bool Finish(uint64_t* rows, std::string* problem) const;

 private:
  // A text searched for outside quoted values; every occurrence is found, overlapping ones too.
  struct Marker {
    std::string text;
    std::vector<uint32_t> fallback;  // longest proper border of each prefix (Knuth-Morris-Pratt)
    uint32_t matched = 0;
    bool counts = false;  // an occurrence is a row
    bool ends = false;    // an occurrence ends a row or statement: the file may end there
    Marker(std::string marker_text, bool marks_row, bool marks_end);
    bool Feed(uint8_t byte);
  };

  void AddFixed(const char* bytes, size_t count);
  void AddDelimited(const uint8_t* bytes, const uint8_t* end);
  void FeedMarkers(uint8_t byte);
  void BreakMatches();

  bool fixed_ = false;
  int64_t record_length_ = 0;  // fixed width
  std::string record_start_;   // fixed width: rowpre
  std::string record_end_;     // fixed width: rowsuf and record
  int64_t in_record_ = 0;      // fixed width: offset of the next byte in its record
  uint64_t bad_record_ = 0;    // fixed width: the first record with wrong fixed texts, from 1
  bool bad_start_ = false;

  bool statements_ = false;  // INSERT statements, not delimited text
  bool ends_rows_ = true;    // false when the layout marks no row end at all
  uint8_t quote_ = 0;        // when quoted values are followed
  bool escapes_ = false;     // the escape character hides the byte after it, in values and out
  uint8_t escape_ = 0;
  std::array<uint8_t, 256> classes_{};  // what a byte outside quotes may be (record_count.cpp)
  Marker header_end_{std::string(), false, true};
  std::vector<Marker> markers_;
  bool header_pending_ = false;
  bool in_quote_ = false;
  bool in_name_ = false;
  bool hide_next_ = false;  // the last byte was the escape character
  bool at_end_ = true;      // the last byte ended a row; an empty file is whole
  uint64_t rows_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace rowflume
