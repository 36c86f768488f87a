// The one table of the Oracle types the program unloads, keyed by the type describe reports:
// how a column of the type is fetched (define type, width and its growth under `safe`), how its
// values are written (quoted, escaped, hex for MySQL, binary), whether it can be read through a
// LOB locator, and how the loader control file declares it. Describe, the field encoder and the
// control file all read their rules here; none keeps a list of type codes of its own.
#pragma once

#include <cstdint>

#include "oci/oci_api.h"

namespace rowflume {

// Described codes beside the SQLT_ ones of oci/oci_api.h: the binary type in length-prefixed
// form, and the server's internal codes of the datetime and interval types, which some servers
// report for them instead of the external ones.
constexpr ub2 SQLT_VBI = 15;
constexpr ub2 SQLT_BFLOAT = 21;  // BINARY_FLOAT and BINARY_DOUBLE as some clients report them
constexpr ub2 SQLT_BDOUBLE = 22;
constexpr ub2 kInternalTimestamp = 180;
constexpr ub2 kInternalTimestampTz = 181;
constexpr ub2 kInternalIntervalYm = 182;
constexpr ub2 kInternalIntervalDs = 183;

// Width of a LOB value read through its locator in a data record: it stands there as the name of
// its LOB file, whose 29 characters this reserves with room for one more.
constexpr int kLobNameWidth = 30;

// What a type's values are fetched as.
enum class TypeFamily : uint8_t {
  kText,         // character data, fetched as text of the described size
  kNumber,       // NUMBER: text, or the 21 internal bytes with client=yes
  kBinaryFloat,  // BINARY_FLOAT, BINARY_DOUBLE: text in the client's scientific form
  kDate,         // DATE: text, or the 7 internal bytes with client=yes
  kRowid,        // ROWID text
  kRaw,          // RAW bytes of the described size
  kLong,         // LONG: a long value of up to `long` bytes
  kLongRaw,      // LONG RAW: a long value of bytes
  kLob,          // CLOB, BLOB, BFILE: a locator with lob=yes, otherwise a long value
  kTimestamp,    // datetime text in the session's timestamp format
  kTimestampTz,  // the same with its time zone
  kInterval,     // interval text
};

// How the loader control file reads a field of the type from the data file.
enum class LoadClause : uint8_t {
  kChar,         // CHAR(width)
  kDate,         // DATE with the session's date mask
  kTimestamp,    // TIMESTAMP with the session's timestamp mask
  kTimestampTz,  // TIMESTAMP WITH TIME ZONE with its mask
};

struct OracleType {
  ub2 code;  // the described type
  TypeFamily family;
  ub2 define_type;       // external type fetched when not fetched through a locator or as
                         // internal bytes; 0: the described type itself
  int32_t text_width;    // width of the text fetched when no `width` entry is given: 0 for the
                         // described size (text and raw), -1 for `long` (long values); for
                         // timestamps with up to kRowFractionDigits digits of seconds; unused by
                         // numbers, whose width follows precision and scale
  bool grows_when_safe;  // `safe` makes the width kSafeMargin characters larger
  bool quotable;         // written between `quote` texts
  bool escaped;          // may hold bytes that `escape` escapes
  bool binary;           // bytes, written as hexadecimal text in Oracle INSERT statements
  bool mysql_hex;        // written as unhex('...') in MySQL INSERT statements
  bool lob_file_clause;  // a locator value is loaded from its LOB file (BFILE is not)
  const char* sketch;    // type name in the control file's table sketch; null: VARCHAR2(width)
  LoadClause load;       // field clause of the control file
};

constexpr int32_t kSafeMargin = 10;      // characters `safe` adds to a fixed-format text
constexpr int32_t kLongWidth = -1;       // text_width of long values: the job's `long` limit
constexpr int32_t kMaxTextWidth = 4000;  // largest character column, `safe` doubling included
constexpr int kFloatScale = -127;        // the scale of NUMBER without precision and of FLOAT
constexpr int kRowFractionDigits = 6;    // digits of seconds the timestamp rows' widths hold
// Longest text of a NUMBER or FLOAT value: 170 characters for a 40-digit negative near 1E-130
// ("-.000...") in plain positional notation, and two to spare.
constexpr int32_t kLongestNumberText = 172;

// The row of the described type; character types and codes without a row of their own share the
// text row (its code is SQLT_CHR).
const OracleType& LookupType(int described_type);

// Longest text of a value of a NUMBER column described with precision and scale, in the client's
// plain positional notation without a leading zero ("-.0099" for NUMBER(2,4), "-99000" for
// NUMBER(2,-3)). Scale -127 marks NUMBER without precision and FLOAT(binary digits), whose values
// range over every magnitude; precision 0 with another scale allows 38 digits.
int32_t LongestNumberText(int precision, int scale);

// The same for the text FormatOracleNumber writes from the internal bytes (client=yes): a zero
// before the point of a fraction, and fraction digits in whole base-100 pairs ("-0.1250" for
// NUMBER(3,3)).
int32_t LongestClientNumberText(int precision, int scale);

// Width of the text of a timestamp row's value with fraction_digits digits of seconds (0 to 9):
// the row's width, one more for each digit past kRowFractionDigits.
int32_t TimestampTextWidth(const OracleType& type, int fraction_digits);

// Largest client text of one character of a character column: a client converts it into its own
// set, whose characters may take more bytes than the database's did.
constexpr int32_t kMaxConvertedTextBytes = 32767;

// Most bytes a character takes in the character set of that id: 1 for the single-byte sets
// (below 800), the set's own for the multi-byte ones Oracle numbers, 4 for other multi-byte
// sets; 1 for 0, a set not known.
int CharsetMaxBytes(int charset_id);

// True for the define types of LOB locators: a column defined so is read value by value through
// the locator its slot holds.
bool IsLobLocator(int define_type);

// The session formats the job run sets, which the control file's masks must match.
inline constexpr char kDateMask[] = "YYYY-MM-DD HH24:MI:SS";
inline constexpr char kTimestampMask[] = "YYYY-MM-DD HH24:MI:SSXFF";
inline constexpr char kTimestampTzMask[] = "YYYY-MM-DD HH24:MI:SSXFF TZH:TZM";

}  // namespace rowflume
