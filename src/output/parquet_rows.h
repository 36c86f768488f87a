// The rows of a query as Parquet: which Parquet type each described Oracle column becomes, and
// the conversion of each fetched value into it, handed to the file writer
// (output/parquet_writer.h) one value at a time. Numbers, dates and timestamps arrive as the
// session's text in the formats the job run sets; a value that does not read as its type stops
// the run rather than be written as something else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/columns.h"
#include "job/job_record.h"
#include "output/field_encoding.h"
#include "output/output_buffer.h"
#include "output/parquet_writer.h"

namespace rowflume {

// The codec `compress` names: ZSTD, SNAPPY or NONE in any letter case; empty for ZSTD where the
// build has it, none otherwise. False for any other text.
bool ParseParquetCodec(const char* text, ParquetCodec* codec);

// How one column's fetched values become Parquet values.
enum class ParquetValue : uint8_t {
  kText,          // the fetched text as a string
  kBytes,         // the fetched bytes as they are
  kLobName,       // the name of the LOB file the value was written to
  kDecimal,       // decimal text as an unscaled integer (INT32, INT64 or fixed-length bytes)
  kNumberDouble,  // decimal text as the nearest double
  kFloat,         // binary float text
  kDouble,        // binary double text
  kDate,          // "YYYY-MM-DD HH24:MI:SS"
  kTimestamp,     // the same with a fraction of up to nine digits
  kTimestampTz,   // the same with an offset "+HH:MM", as the UTC instant
};

struct ParquetColumnPlan {
  ParquetValue value;
  int32_t scale;      // decimal places of a decimal
  bool nanos;         // a timestamp counts nanoseconds, not microseconds
  const char* title;  // the Parquet type, for messages
};

// One run's Parquet form of its columns and the writer of its open file.
struct ParquetRows {
  std::vector<ParquetColumn> schema;
  std::vector<ParquetColumnPlan> plans;
  ParquetOptions options;
  ParquetWriter* writer = nullptr;
  OutputBuffer* out = nullptr;
  // The first value that could not be converted: its column's position, and the value.
  int bad_position = -1;
  std::string bad_value;
};

// Works out the schema and the conversions of the count columns, and the writer's options from
// the job's (the query and SCN go into the footer's key-value list). False when the codec is
// not known.
bool PlanParquetRows(ParquetRows* rows, ColumnDesc* const* columns, int count,
                     const UnloadHandle* job);

// Starts a file written through out; false when the writer could not start.
bool StartParquetFile(ParquetRows* rows, OutputBuffer* out);

// Adds row row_idx of the fetched arrays. LOB locators are written to their files through the
// encoder's LOB writer. False when a value could not be converted (bad_position and bad_value
// say which) or the writer failed (bad_position stays -1).
bool AddParquetRow(ParquetRows* rows, ColumnDesc* const* columns, int count, int row_idx,
                   FieldEncoder* encoder);

// Bytes the open file will still receive for the rows added so far, footer aside.
int64_t ParquetPendingBytes(const ParquetRows* rows);

// Writes the rest of the open file into its buffer; false when the writer failed.
bool FinishParquetFile(ParquetRows* rows);

// Drops the open file's writer, if any, writing nothing more.
void DiscardParquetFile(ParquetRows* rows);

}  // namespace rowflume
