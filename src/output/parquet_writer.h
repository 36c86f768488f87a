// Apache Parquet files, written one value at a time: the schema of flat optional columns, the
// row groups held in memory up to a byte limit, PLAIN and dictionary pages with RLE/bit-packed
// definition levels, compression, per-chunk statistics and the footer in Thrift's compact
// protocol; and the row count a written file's footer gives back. What a column's values mean
// (which Oracle type becomes which Parquet type) is the caller's business; this module only
// stores the physical values it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace rowflume {

// Physical types, numbered as the format numbers them.
enum class ParquetPhysical : uint8_t {
  kInt32 = 1,
  kInt64 = 2,
  kFloat = 4,
  kDouble = 5,
  kByteArray = 6,
  kFixedBytes = 7,  // FIXED_LEN_BYTE_ARRAY of ParquetColumn::type_length bytes
};

// What a column's physical values stand for.
enum class ParquetLogical : uint8_t {
  kNone,             // plain numbers or bytes
  kString,           // UTF-8 text in a byte array
  kDecimal,          // an unscaled integer: INT32, INT64, or big-endian two's complement bytes
  kTimestampMicros,  // INT64 microseconds since 1970-01-01 00:00:00
  kTimestampNanos,   // INT64 nanoseconds since then
};

// Codecs, numbered as the format numbers them.
enum class ParquetCodec : uint8_t { kNone = 0, kSnappy = 1, kZstd = 6 };

struct ParquetColumn {
  std::string name;
  ParquetPhysical physical = ParquetPhysical::kByteArray;
  ParquetLogical logical = ParquetLogical::kNone;
  int32_t type_length = 0;  // bytes of each value of a kFixedBytes column
  int32_t precision = 0;    // of a decimal: 1 to 38
  int32_t scale = 0;        // of a decimal: 0 to precision
  bool utc = false;         // a timestamp is an instant (adjusted to UTC), not a local time
};

struct ParquetOptions {
  ParquetCodec codec = ParquetCodec::kNone;
  int64_t row_group_bytes = int64_t{64} << 20;  // held before a row group is written out
  std::vector<std::pair<std::string, std::string>> metadata;  // the footer's key-value list
  std::string created_by;
};

// Where the file's bytes go, in file order. False when they could not be written: the writer
// stops and every later call fails.
using ParquetSink = bool (*)(void* context, const void* data, size_t count);

// True when this build can compress with the codec (kNone always).
bool ParquetCodecAvailable(ParquetCodec codec);

struct ParquetWriter;

// Starts a file of those columns, writing its magic bytes through the sink. Null when out of
// memory, the sink failed, the columns are not valid (no column, a decimal whose precision does
// not fit its physical type, a logical type its physical type cannot hold), or the codec is not
// in this build.
ParquetWriter* ParquetOpen(const std::vector<ParquetColumn>& columns, const ParquetOptions& options,
                           ParquetSink sink, void* context);

// The values of one row, one call per column in column order, then ParquetEndRow. The value
// must be of the column's physical type; kFixedBytes values have type_length bytes. A call that
// does not fit the schema fails the writer, as the file could not be trusted.
void ParquetNull(ParquetWriter* writer, int column);
void ParquetInt32(ParquetWriter* writer, int column, int32_t value);
void ParquetInt64(ParquetWriter* writer, int column, int64_t value);
void ParquetFloat(ParquetWriter* writer, int column, float value);
void ParquetDouble(ParquetWriter* writer, int column, double value);
void ParquetBytes(ParquetWriter* writer, int column, const void* data, size_t count);

// Ends a row; writes a row group out once the held bytes reach the limit. False when the
// writer has failed (a sink write, memory): the file is then unusable.
bool ParquetEndRow(ParquetWriter* writer);

// Bytes the writer holds for the row group it has not written yet: what it would add to the
// file if it were closed now, near enough for splitting files by size.
int64_t ParquetHeldBytes(const ParquetWriter* writer);

// Writes the last row group (none when it holds no row) and the footer, and frees the writer.
// False when anything failed on the way.
bool ParquetClose(ParquetWriter* writer);

// Frees the writer without writing anything more.
void ParquetDiscard(ParquetWriter* writer);

// The row count in the footer of the Parquet file at path; false when it is not a Parquet file
// whose footer can be read.
bool ParquetFileRows(const std::string& path, uint64_t* rows);

}  // namespace rowflume
