#include "db/oracle_types.h"

namespace rowflume {
namespace {

using F = TypeFamily;
using L = LoadClause;

// Traits of a row, combined with "|".
constexpr unsigned kSafe = 1;       // grows_when_safe
constexpr unsigned kQuoted = 2;     // quotable
constexpr unsigned kEscaped = 4;    // escaped
constexpr unsigned kBinary = 8;     // binary
constexpr unsigned kMySqlHex = 16;  // mysql_hex
constexpr unsigned kLobFile = 32;   // lob_file_clause

constexpr OracleType Row(ub2 code, TypeFamily family, ub2 define_type, int32_t text_width,
                         unsigned traits, const char* sketch = nullptr,
                         LoadClause load = LoadClause::kChar) {
  return OracleType{code,
                    family,
                    define_type,
                    text_width,
                    (traits & kSafe) != 0,
                    (traits & kQuoted) != 0,
                    (traits & kEscaped) != 0,
                    (traits & kBinary) != 0,
                    (traits & kMySqlHex) != 0,
                    (traits & kLobFile) != 0,
                    sketch,
                    load};
}

// One row per described type. Numbers, dates, ROWIDs and timestamps never hold bytes to escape;
// intervals, the character types and raw bytes may (a RAW GUID holds a quote as often as LONG
// RAW data does). LOB values are escaped when fetched inline (field_encoding.cpp). Only numbers
// go unquoted. The first row serves every code without a row of its own.
constexpr unsigned kText = kSafe | kQuoted | kEscaped | kMySqlHex;
constexpr unsigned kFixedText = kSafe | kQuoted;  // fixed-format text: dates, ROWIDs, timestamps
constexpr unsigned kInterval = kQuoted | kEscaped;
constexpr OracleType kTypes[] = {
    Row(SQLT_CHR, F::kText, SQLT_CHR, 0, kText),
    Row(SQLT_NUM, F::kNumber, SQLT_CHR, 0, kSafe, "NUMBER"),
    Row(SQLT_VNU, F::kNumber, SQLT_CHR, 0, kSafe, "NUMBER"),
    Row(SQLT_LNG, F::kLong, SQLT_LVC, kLongWidth, kQuoted | kEscaped | kMySqlHex),
    Row(SQLT_RID, F::kRowid, SQLT_CHR, 18, kFixedText),
    Row(SQLT_RDD, F::kRowid, SQLT_CHR, 18, kFixedText),
    Row(SQLT_DAT, F::kDate, SQLT_CHR, 19, kFixedText, "DATE", L::kDate),
    Row(SQLT_ODT, F::kDate, SQLT_CHR, 19, kFixedText, "DATE", L::kDate),
    Row(SQLT_VBI, F::kRaw, 0, 0, kSafe | kQuoted | kEscaped | kBinary | kMySqlHex),
    Row(SQLT_BIN, F::kRaw, 0, 0, kSafe | kQuoted | kEscaped | kBinary | kMySqlHex),
    Row(SQLT_LBI, F::kLongRaw, SQLT_LVB, kLongWidth, kQuoted | kEscaped | kBinary | kMySqlHex),
    Row(SQLT_CLOB, F::kLob, SQLT_LVC, kLongWidth, kQuoted | kMySqlHex | kLobFile, "CLOB"),
    Row(SQLT_BLOB, F::kLob, SQLT_LVB, kLongWidth, kQuoted | kBinary | kMySqlHex | kLobFile, "BLOB"),
    Row(SQLT_BFILEE, F::kLob, SQLT_LVC, kLongWidth, kQuoted | kMySqlHex),
    Row(kInternalTimestamp, F::kTimestamp, SQLT_CHR, 26, kFixedText, "TIMESTAMP", L::kTimestamp),
    Row(SQLT_TIMESTAMP, F::kTimestamp, SQLT_CHR, 26, kFixedText, "TIMESTAMP", L::kTimestamp),
    Row(kInternalTimestampTz, F::kTimestampTz, SQLT_CHR, 33, kFixedText, "TIMESTAMP WITH TIME ZONE",
        L::kTimestampTz),
    Row(SQLT_TIMESTAMP_TZ, F::kTimestampTz, SQLT_CHR, 33, kFixedText, "TIMESTAMP WITH TIME ZONE",
        L::kTimestampTz),
    Row(SQLT_TIMESTAMP_LTZ, F::kTimestampTz, SQLT_CHR, 33, kFixedText,
        "TIMESTAMP WITH LOCAL TIME ZONE", L::kTimestampTz),
    Row(kInternalIntervalYm, F::kInterval, SQLT_CHR, 20, kInterval),
    Row(SQLT_INTERVAL_YM, F::kInterval, SQLT_CHR, 20, kInterval),
    Row(kInternalIntervalDs, F::kInterval, SQLT_CHR, 30, kInterval),
    Row(SQLT_INTERVAL_DS, F::kInterval, SQLT_CHR, 30, kInterval),
};

// Row index by code, so that the encoder's per-field lookups cost one load: every code reported
// today is below 256, and codes without a row map to the text row.
constexpr int kIndexedCodes = 256;
struct TypeIndex {
  uint8_t row[kIndexedCodes] = {};
  constexpr TypeIndex() {
    for (uint8_t row_idx = 0; row_idx < sizeof kTypes / sizeof kTypes[0]; ++row_idx) {
      row[kTypes[row_idx].code] = row_idx;
    }
  }
};
constexpr TypeIndex kTypeIndex;
static_assert(kTypes[0].code == SQLT_CHR, "unknown codes fall back to the first row");

}  // namespace

const OracleType& LookupType(int described_type) {
  if (described_type < 0 || described_type >= kIndexedCodes) return kTypes[0];
  return kTypes[kTypeIndex.row[described_type]];
}

bool IsLobLocator(int define_type) {
  return define_type == SQLT_CLOB || define_type == SQLT_BLOB || define_type == SQLT_BFILEE;
}

}  // namespace rowflume
