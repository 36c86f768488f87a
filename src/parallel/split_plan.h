// Split plans: the ROWID ranges of one parallel unload (and the SCN it reads at) written to a
// file on one host, so that its pieces can be run anywhere, by any number of processes, and
// still form one unload. Also the piece lists that say which pieces a process runs.
//
// The file is text, one KEY=VALUE per line, in this order:
//   ROWFLUME SPLIT PLAN          the first line, as it stands
//   VERSION=2
//   OWNER=SCOTT                  dictionary names, as the dictionary spells them
//   TABLE=ORDERS
//   PARTITION=                   empty: the whole table
//   SCN=8123456                  empty: each piece reads the table as it is when it runs
//   DEGREE=8                     the degree asked for
//   SEGMENTS=1 74652 74652 9c2e0b1e5d3f0a77
//                                the table's segments when the plan was made: their count, the
//                                lowest and highest data object numbers, a digest of them all
//   PIECES=3                     the piece lines that follow
//   PIECE=1 AAAR3sAAEAAAACXAAA AAAR3sAAEAAAACfAAA    number, first ROWID, ROWID after the range
//   ...
//   END
// Line ends may be LF or CR LF. Anything else, a missing line, a piece twice, or a file cut short
// (no END) makes the whole plan unreadable: a plan is used whole or not at all. The pieces'
// ranges together hold every ROWID the segments can have, so rows stored after the plan was
// made are read too; a table whose segments are no longer those of the plan (rebuilt, its
// partitions changed) is refused, never read through ranges that miss it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "parallel/rowid_split.h"

namespace rowflume {

constexpr int kPlanVersion = 2;
constexpr int kPlanNameBytes = 132;
constexpr size_t kPlanMaxNameChars = 128;  // the longest Oracle identifier
constexpr int kPlanScnBytes = 24;

struct SplitPlan {
  char owner[kPlanNameBytes];
  char table[kPlanNameBytes];
  char partition[kPlanNameBytes];
  char scn[kPlanScnBytes];
  uint32_t degree;
  SegmentSet segments;    // the table's segments when the plan was made
  RowidRangeList ranges;  // seq is the piece number
};

// The plan as its file's text into out (NUL-terminated); false when it does not fit.
bool FormatSplitPlan(const SplitPlan& plan, char* out, size_t capacity);

// Reads a plan file's text. False, with a reason in error, when it is not a plan of this version
// made whole.
bool ParseSplitPlan(const char* text, size_t length, SplitPlan* plan, char* error,
                    size_t error_size);

// The piece numbers of a list such as "3" or "1,4-6" (blanks allowed around items), each from 1
// to kMaxRowidRanges; selected[n] is set for each. False for anything else, and for an empty
// list.
bool ParsePieceList(const char* text, bool (&selected)[kMaxRowidRanges + 1]);

}  // namespace rowflume
