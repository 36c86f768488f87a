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
// Binary floating-point text is one digit, a point, 8 more digits for a BINARY_FLOAT (16 for a
// BINARY_DOUBLE), "E", the exponent's sign and three digits, and perhaps a minus sign.
constexpr int32_t kBinaryFloatText = 16;
constexpr int32_t kBinaryDoubleText = 24;
constexpr OracleType kTypes[] = {
    Row(SQLT_CHR, F::kText, SQLT_CHR, 0, kText),
    Row(SQLT_NUM, F::kNumber, SQLT_CHR, 0, kSafe, "NUMBER"),
    Row(SQLT_VNU, F::kNumber, SQLT_CHR, 0, kSafe, "NUMBER"),
    Row(SQLT_IBFLOAT, F::kBinaryFloat, SQLT_CHR, kBinaryFloatText, kSafe, "BINARY_FLOAT"),
    Row(SQLT_BFLOAT, F::kBinaryFloat, SQLT_CHR, kBinaryFloatText, kSafe, "BINARY_FLOAT"),
    Row(SQLT_IBDOUBLE, F::kBinaryFloat, SQLT_CHR, kBinaryDoubleText, kSafe, "BINARY_DOUBLE"),
    Row(SQLT_BDOUBLE, F::kBinaryFloat, SQLT_CHR, kBinaryDoubleText, kSafe, "BINARY_DOUBLE"),
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

namespace {

constexpr int kStarPrecision = 38;     // the digits of NUMBER(*,s)
constexpr int kMaxFractionDigits = 9;  // of a timestamp's seconds

int DecimalPrecision(int precision) {
  return precision > 0 ? precision : kStarPrecision;
}

}  // namespace

int32_t LongestNumberText(int precision, int scale) {
  if (scale == kFloatScale) return kLongestNumberText;
  const int digits = DecimalPrecision(precision);
  // Negative scale: the digits end |scale| zeros before the point. Otherwise the integer digits
  // that the scale leaves, the point and the scale's digits; a fraction has no zero before it.
  if (scale <= 0) return 1 + digits - scale;
  const int integer_digits = digits > scale ? digits - scale : 0;
  return 1 + integer_digits + 1 + scale;
}

int32_t LongestClientNumberText(int precision, int scale) {
  if (scale == kFloatScale) return kLongestNumberText;
  const int digits = DecimalPrecision(precision);
  if (scale <= 0) return 1 + digits - scale;
  const int integer_digits = digits > scale ? digits - scale : 1;
  return 1 + integer_digits + 1 + 2 * ((scale + 1) / 2);
}

int32_t TimestampTextWidth(const OracleType& type, int fraction_digits) {
  if (fraction_digits > kMaxFractionDigits) fraction_digits = kMaxFractionDigits;
  const int extra = fraction_digits > kRowFractionDigits ? fraction_digits - kRowFractionDigits : 0;
  return type.text_width + extra;
}

int CharsetMaxBytes(int charset_id) {
  constexpr int kFirstMultiByte = 800;
  static constexpr struct {
    int id;
    int bytes;
  } kMultiByte[] = {
      {830, 3},   // JA16EUC
      {832, 2},   // JA16SJIS
      {840, 2},   // KO16KSC5601
      {846, 2},   // KO16MSWIN949
      {850, 2},   // ZHS16CGB231280
      {852, 2},   // ZHS16GBK
      {854, 4},   // ZHS32GB18030
      {860, 4},   // ZHT32EUC
      {865, 2},   // ZHT16BIG5
      {867, 2},   // ZHT16MSWIN950
      {868, 2},   // ZHT16HKSCS
      {870, 3},   // AL24UTFFSS
      {871, 3},   // UTF8
      {873, 4},   // AL32UTF8
      {1000, 2},  // UTF16, per code unit
      {2000, 2},  // AL16UTF16
  };
  if (charset_id < kFirstMultiByte) return 1;
  for (const auto& entry : kMultiByte) {
    if (entry.id == charset_id) return entry.bytes;
  }
  return 4;
}

bool IsLobLocator(int define_type) {
  return define_type == SQLT_CLOB || define_type == SQLT_BLOB || define_type == SQLT_BFILEE;
}

}  // namespace rowflume
