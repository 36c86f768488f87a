#include "parallel/rowid_split.h"

#include <cstdio>
#include <cstring>

#include "common/messages.h"
#include "db/statement.h"
#include "scramble/scramble.h"

namespace rowflume {
namespace {

constexpr int kQueryTextBytes = 512;  // one stored query text
constexpr int kSqlBytes = 1024;       // the query with its names filled in
constexpr ub4 kStretchRowsPerFetch = 100;
constexpr int kRowidChars = 18;

static_assert(StoredTextBytes(StoredText::kSplitSegmentsTable) == kQueryTextBytes &&
                  StoredTextBytes(StoredText::kSplitSegmentsPartition) == kQueryTextBytes &&
                  StoredTextBytes(StoredText::kSplitTotalTable) == kQueryTextBytes &&
                  StoredTextBytes(StoredText::kSplitTotalPartition) == kQueryTextBytes &&
                  StoredTextBytes(StoredText::kSplitStretchTable) == kQueryTextBytes &&
                  StoredTextBytes(StoredText::kSplitStretchPartition) == kQueryTextBytes,
              "split queries are 512-byte blocks");

// Fills sql from the table or partition form of a stored query. The plain texts live only for
// this call. False when the names make the text longer than the buffer: it is never run cut.
bool FormatSplitQuery(StoredText table_form, StoredText partition_form, const char* owner,
                      const char* table, const char* partition, char* sql) {
  unsigned char table_text[kQueryTextBytes];
  unsigned char partition_text[kQueryTextBytes];
  LoadStoredText(table_form, table_text);
  LoadStoredText(partition_form, partition_text);
  std::memset(sql, 0, kSqlBytes);
  int written;
  if (partition != nullptr && partition[0] != '\0') {
    written = std::snprintf(sql, kSqlBytes, reinterpret_cast<const char*>(partition_text), owner,
                            table, partition);
  } else {
    written =
        std::snprintf(sql, kSqlBytes, reinterpret_cast<const char*>(table_text), owner, table);
  }
  std::memset(table_text, 0, sizeof table_text);
  std::memset(partition_text, 0, sizeof partition_text);
  return written > 0 && written < kSqlBytes;
}

// Prepares and executes the table or partition form of a stored query: 0, or the failing step's
// status (-1 when the names do not fit the text), reported. The statement is the caller's to free
// whatever the result.
int ExecuteSplitQuery(DbSession* session, StoredText table_form, StoredText partition_form,
                      const char* owner, const char* table, const char* partition,
                      OCIStmt** statement) {
  char sql[kSqlBytes];
  if (!FormatSplitQuery(table_form, partition_form, owner, table, partition, sql)) {
    SessionMessage(session, messages::kSplitNamesTooLong);
    return -1;
  }
  const int status = StmtPrepare(session, statement, sql);
  return status == 0 ? StmtExecuteQuery(session, *statement) : status;
}

// Closes a range from start to end. Once the list is full, further stretches extend its last
// range instead, so none is lost and nothing is written past the list.
void CloseRange(RowidRangeList* ranges, const char* start, const char* end) {
  if (ranges->count < kMaxRowidRanges) {
    RowidRange& range = ranges->ranges[ranges->count];
    range.seq = ranges->count + 1;
    std::memcpy(range.min_rowid, start, kRowidTextBytes);
    std::memcpy(range.max_rowid, end, kRowidTextBytes);
    ++ranges->count;
    return;
  }
  std::memcpy(ranges->ranges[kMaxRowidRanges - 1].max_rowid, end, kRowidTextBytes);
}

// The extended ROWID's digits: data object (6), relative file (3), block (6), slot (3).
constexpr char kRowidDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char* PutRowidDigits(char* p, uint64_t value, int digits) {
  for (int k = digits - 1; k >= 0; --k) {
    p[k] = kRowidDigits[value & 63];
    value >>= 6;
  }
  return p + digits;
}

// The value of count digits at text; false on a character that is no digit.
bool ReadRowidDigits(const char* text, int count, uint64_t* value) {
  *value = 0;
  for (int k = 0; k < count; ++k) {
    const char* digit = std::strchr(kRowidDigits, text[k]);
    if (text[k] == '\0' || digit == nullptr) return false;
    *value = *value * 64 + static_cast<uint64_t>(digit - kRowidDigits);
  }
  return true;
}

// The last ROWID before text's that no row can have: the top slot of the block before (of the
// file or object before at their start). Rows never reach that slot, so a range may end there
// and be read with BETWEEN as well as with >= and <, neither taking the next range's first row.
bool RowidBefore(const char* text, char* before) {
  uint64_t object, file, block, slot;
  if (!ReadRowidDigits(text, 6, &object) || !ReadRowidDigits(text + 6, 3, &file) ||
      !ReadRowidDigits(text + 9, 6, &block) || !ReadRowidDigits(text + 15, 3, &slot)) {
    return false;
  }
  if (block > 0)
    return FormatRowid(object, static_cast<uint32_t>(file), static_cast<uint32_t>(block - 1),
                       0xFFFF, before);
  if (file > 0)
    return FormatRowid(object, static_cast<uint32_t>(file - 1), 0x3FFFFF, 0xFFFF, before);
  return object > 0 && FormatRowid(object - 1, 1023, 0x3FFFFF, 0xFFFF, before);
}

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

}  // namespace

bool operator==(const SegmentSet& one, const SegmentSet& other) {
  return one.count == other.count && one.digest == other.digest &&
         (one.count == 0 || (one.lowest == other.lowest && one.highest == other.highest));
}

bool FormatRowid(uint64_t object, uint32_t file, uint32_t block, uint32_t slot, char* text) {
  if (object > 0xFFFFFFFFULL || file > 1023 || block > 0x3FFFFF || slot > 0xFFFF) return false;
  char* p = PutRowidDigits(text, object, 6);
  p = PutRowidDigits(p, file, 3);
  p = PutRowidDigits(p, block, 6);
  p = PutRowidDigits(p, slot, 3);
  *p = '\0';
  return true;
}

int QuerySegments(DbSession* session, const char* owner, const char* table, const char* partition,
                  SegmentSet* segments) {
  *segments = SegmentSet{0, 0, 0, kFnvOffset};
  OCIStmt* statement = nullptr;
  OCIDefine* define = nullptr;
  int status =
      ExecuteSplitQuery(session, StoredText::kSplitSegmentsTable,
                        StoredText::kSplitSegmentsPartition, owner, table, partition, &statement);
  uint32_t numbers[kStretchRowsPerFetch];
  if (status == 0) {
    status = DefineColumn(session, statement, 1, numbers, sizeof numbers[0], SQLT_UIN, nullptr,
                          nullptr, nullptr, &define);
    if (status != OCI_SUCCESS) ReportError(session);
  }
  while (status == OCI_SUCCESS) {
    ub4 delivered = kStretchRowsPerFetch;
    const sword fetched = FetchRows(session, statement, kStretchRowsPerFetch);
    if (fetched == OCI_NO_DATA) {
      status = LastFetchRows(session, statement, &delivered);
      if (delivered > kStretchRowsPerFetch) delivered = kStretchRowsPerFetch;
    } else if (fetched != OCI_SUCCESS) {
      status = fetched;
      break;
    }
    for (ub4 row_idx = 0; row_idx < delivered; ++row_idx) {
      const uint32_t number = numbers[row_idx];
      if (segments->count == 0) segments->lowest = number;
      segments->highest = number;
      ++segments->count;
      for (int byte = 0; byte < 4; ++byte) {
        segments->digest = (segments->digest ^ ((number >> (8 * byte)) & 0xff)) * kFnvPrime;
      }
    }
    if (fetched == OCI_NO_DATA || delivered < kStretchRowsPerFetch) break;
  }
  FreeDefine(session, define);
  StmtFree(session, statement);
  return status;
}

void CoverSegments(const SegmentSet& segments, RowidRangeList* ranges) {
  if (segments.count == 0 || ranges->count == 0) return;
  RowidRange* first = &ranges->ranges[0];
  RowidRange* last = &ranges->ranges[ranges->count - 1];
  FormatRowid(segments.lowest, 0, 0, 0, first->min_rowid);
  for (uint32_t idx = 0; idx + 1 < ranges->count; ++idx) {
    RowidBefore(ranges->ranges[idx + 1].min_rowid, ranges->ranges[idx].max_rowid);
  }
  FormatRowid(segments.highest, 1023, 0x3FFFFF, 0xFFFF, last->max_rowid);
}

int QueryTotalWeight(DbSession* session, const char* owner, const char* table,
                     const char* partition, uint32_t* total) {
  *total = 0;
  OCIStmt* statement = nullptr;
  OCIDefine* define = nullptr;
  int status =
      ExecuteSplitQuery(session, StoredText::kSplitTotalTable, StoredText::kSplitTotalPartition,
                        owner, table, partition, &statement);
  if (status == 0) {
    status = DefineColumn(session, statement, 1, total, sizeof *total, SQLT_UIN, nullptr, nullptr,
                          nullptr, &define);
    if (status == OCI_SUCCESS) {
      status = FetchRows(session, statement, 1);
      if (status != OCI_SUCCESS) {
        *total = 0;
        // The query always yields one row; none is a failure too, and says so.
        if (status == OCI_NO_DATA) ReportError(session);
      }
    }
    FreeDefine(session, define);
  }
  StmtFree(session, statement);
  return status;
}

int BuildRowidRanges(DbSession* session, const char* owner, const char* table,
                     const char* partition, uint32_t threshold, RowidRangeList* ranges) {
  ranges->count = 0;
  OCIStmt* statement = nullptr;
  int status =
      ExecuteSplitQuery(session, StoredText::kSplitStretchTable, StoredText::kSplitStretchPartition,
                        owner, table, partition, &statement);
  if (status != 0) {
    StmtFree(session, statement);
    return status;
  }

  // Fetch buffers of one array fetch; the indicators are required by the client, not read.
  char low[kStretchRowsPerFetch][kRowidTextBytes];
  char high[kStretchRowsPerFetch][kRowidTextBytes];
  uint32_t weights[kStretchRowsPerFetch];
  sb2 low_nulls[kStretchRowsPerFetch];
  sb2 high_nulls[kStretchRowsPerFetch];
  OCIDefine* defines[3] = {nullptr, nullptr, nullptr};
  status = DefineColumn(session, statement, 1, low, kRowidTextBytes, SQLT_STR, low_nulls, nullptr,
                        nullptr, &defines[0]);
  if (status == OCI_SUCCESS) {
    status = DefineColumn(session, statement, 2, high, kRowidTextBytes, SQLT_STR, high_nulls,
                          nullptr, nullptr, &defines[1]);
  }
  if (status == OCI_SUCCESS) {
    status = DefineColumn(session, statement, 3, weights, sizeof weights[0], SQLT_UIN, nullptr,
                          nullptr, nullptr, &defines[2]);
  }
  if (status == OCI_SUCCESS) {
    char start[kRowidTextBytes] = {};
    char end[kRowidTextBytes] = {};
    uint32_t sum = 0;
    uint32_t open = 0;
    for (;;) {
      ub4 delivered = kStretchRowsPerFetch;
      sword fetched = FetchRows(session, statement, kStretchRowsPerFetch);
      if (fetched == OCI_NO_DATA) {
        // The last rows come with the end of the data, counted as the last fetch's rows: the
        // total count wraps after 2^32 - 1 rows.
        status = LastFetchRows(session, statement, &delivered);
        if (status != OCI_SUCCESS) break;
        if (delivered > kStretchRowsPerFetch) delivered = kStretchRowsPerFetch;
      } else if (fetched != OCI_SUCCESS) {
        status = fetched;
        break;
      }
      for (ub4 row_idx = 0; row_idx < delivered; ++row_idx) {
        if (open == 0) std::memcpy(start, low[row_idx], kRowidChars);
        std::memcpy(end, high[row_idx], kRowidChars);
        sum += weights[row_idx];  // wraps, as unsigned arithmetic does
        if (sum > threshold) {
          CloseRange(ranges, start, end);
          sum = 0;
          open = 0;
        } else {
          ++open;
        }
      }
      if (delivered < kStretchRowsPerFetch || fetched == OCI_NO_DATA) break;
    }
    if (status == OCI_SUCCESS && open > 0) CloseRange(ranges, start, end);
  }
  for (OCIDefine* define : defines) FreeDefine(session, define);
  StmtFree(session, statement);
  return status;
}

int SplitRowidRanges(DbSession* session, const char* owner, const char* table,
                     const char* partition, uint32_t degree, RowidRangeList* ranges) {
  if (degree < 2) degree = 2;
  if (degree > kMaxRowidRanges) degree = kMaxRowidRanges;
  ranges->count = 0;
  uint32_t total = 0;
  int status = QueryTotalWeight(session, owner, table, partition, &total);
  if (status != 0) return status;
  return BuildRowidRanges(session, owner, table, partition, total / degree, ranges);
}

}  // namespace rowflume
