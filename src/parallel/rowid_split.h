// Cutting one table (or one partition of it) into ROWID ranges of about equal weight for the
// workers of a parallel unload. The two dictionary queries it runs exist in the program only in
// scrambled form; it neither validates names (its caller does) nor runs the workers.
#pragma once

#include <cstdint>

#include "db/session.h"

namespace rowflume {

constexpr int kMaxRowidRanges = 128;  // also the largest degree
constexpr int kRowidTextBytes = 20;   // 18 characters, a NUL and a spare byte

struct RowidRange {
  uint32_t seq;                     // 1, 2, ... in the order made; the worker's piece number
  char min_rowid[kRowidTextBytes];  // inclusive lower bound, 18 characters
  char max_rowid[kRowidTextBytes];  // exclusive upper bound, 18 characters
};

struct RowidRangeList {
  uint32_t count;  // valid entries, in ascending ROWID order
  RowidRange ranges[kMaxRowidRanges];
};

// The segments (data objects) a table or partition has: the numbers its rows' ROWIDs begin
// with. A rebuilt table, or one whose partitions changed, has others.
struct SegmentSet {
  uint32_t count;
  uint32_t lowest;   // valid when count > 0
  uint32_t highest;  // valid when count > 0
  uint64_t digest;   // FNV-1a over the ascending numbers, 4 bytes each, lowest byte first
};

bool operator==(const SegmentSet& one, const SegmentSet& other);

// The segments the dictionary lists now for the table (or partition): 0, or the status of the
// failing step, reported.
int QuerySegments(DbSession* session, const char* owner, const char* table, const char* partition,
                  SegmentSet* segments);

// ROWID text (18 characters and a NUL) of data object, relative file, block and slot, in the
// extended ROWID's base-64 digits; false when a part is out of its range.
bool FormatRowid(uint64_t object, uint32_t file, uint32_t block, uint32_t slot, char* text);

// Widens ranges cut from the segments' extents so that together they hold every ROWID the
// segments can have, rows stored after the cut included: the first starts at the lowest
// segment's first ROWID, each one ends at the top slot of the block before the next one's start,
// and the last at the top slot of the highest segment. No row reaches a top slot, so the bounds
// serve ">= :minrid AND < :maxrid" and BETWEEN alike. Existing rows keep their range: between two
// extents lie no rows of the table.
// Ranges without segments, and segments without ranges, are left as they are.
void CoverSegments(const SegmentSet& segments, RowidRangeList* ranges);

// Splits the table into at most degree ranges (degree clamped to 2..128): total weight first,
// then the stretches walked in ROWID order, each range closed once its weight exceeds
// total / degree. 0 on success (a count of 0 is possible: no stretch), otherwise the status of
// the failing step; every failure has been reported through the session once.
// owner, table and partition are dictionary names pasted into the queries: the caller must
// have checked them. An empty partition selects the whole table.
int SplitRowidRanges(DbSession* session, const char* owner, const char* table,
                     const char* partition, uint32_t degree, RowidRangeList* ranges);

// The total weight of the table or partition; total is 0 unless the query yields a row. 100
// when it yields none.
int QueryTotalWeight(DbSession* session, const char* owner, const char* table,
                     const char* partition, uint32_t* total);

// Walks the stretches and cuts them into ranges heavier than threshold. Stretches that add up to
// more than the list can hold are merged into its last range, so the list never overflows and
// no stretch is left out.
int BuildRowidRanges(DbSession* session, const char* owner, const char* table,
                     const char* partition, uint32_t threshold, RowidRangeList* ranges);

}  // namespace rowflume
