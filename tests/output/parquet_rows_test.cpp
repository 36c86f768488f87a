// Which Parquet type each described column becomes, and what each fetched text is written as:
// the exact value in its type's plain bytes, or, for a text that does not read as that type, a
// stopped row. The readers of the read-back test see whole files; this looks at the edges.
#include "output/parquet_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/columns.h"
#include "support/job.h"

namespace rowflume {
namespace {

using testing_support::Columns;
using testing_support::NewJob;
using testing_support::SetValue;

bool CaptureSink(void* context, const void* data, size_t count) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), count);
  return true;
}

// Plain bytes: little-endian integers, big-endian fixed-length decimals.
std::string Little(int64_t value, int bytes) {
  std::string out;
  for (int idx = 0; idx < bytes; ++idx) out += static_cast<char>((value >> (8 * idx)) & 0xff);
  return out;
}

std::string Big(std::initializer_list<int> bytes) {
  std::string out;
  for (int byte : bytes) out += static_cast<char>(byte);
  return out;
}

constexpr int64_t kMicros = 1000000;
constexpr int64_t kLeapNoon = 1709208000;  // 2024-02-29 12:00:00 UTC, in seconds

struct Case {
  int described;
  int precision;
  int scale;
  const char* text;
  ParquetPhysical physical;
  int type_length;    // of fixed-length bytes
  std::string plain;  // the value's plain bytes; empty: the text must stop the row
};

TEST(ParquetRows, EachTextIsItsExactValueOrStopsTheRow) {
  using P = ParquetPhysical;
  const Case cases[] = {
      // NUMBER(p,s): the unscaled integer in the smallest physical type.
      {SQLT_NUM, 10, 2, "12.5", P::kInt64, 0, Little(1250, 8)},
      {SQLT_NUM, 10, 2, "-.01", P::kInt64, 0, Little(-1, 8)},
      {SQLT_NUM, 10, 2, "12.340", P::kInt64, 0, Little(1234, 8)},
      {SQLT_NUM, 10, 2, "12.345", P::kInt64, 0, ""},
      {SQLT_NUM, 10, 2, "1E5", P::kInt64, 0, ""},
      {SQLT_NUM, 10, 2, "", P::kInt64, 0, ""},
      {SQLT_NUM, 10, 2, "1.2.3", P::kInt64, 0, ""},
      {SQLT_NUM, 9, 0, "-123456789", P::kInt32, 0, Little(-123456789, 4)},
      {SQLT_NUM, 3, 0, "1000", P::kInt32, 0, ""},
      {SQLT_NUM, 5, -2, "1234500", P::kInt32, 0, Little(1234500, 4)},
      {SQLT_NUM, 2, 4, ".0012", P::kInt32, 0, Little(12, 4)},
      {SQLT_NUM, 38, 0, "-1", P::kFixedBytes, 16, std::string(16, '\xff')},
      {SQLT_NUM, 20, 0, "-300", P::kFixedBytes, 9,
       Big({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe, 0xd4})},
      {SQLT_NUM, 20, 0, "18446744073709551616", P::kFixedBytes, 9,
       Big({1, 0, 0, 0, 0, 0, 0, 0, 0})},
      {SQLT_NUM, 20, 0, "-18446744073709551616", P::kFixedBytes, 9,
       Big({0xff, 0, 0, 0, 0, 0, 0, 0, 0})},
      // NUMBER without precision: the session's digits, as they stand.
      {SQLT_NUM, 0, kFloatScale, "1E125", P::kByteArray, 0, Little(5, 4) + "1E125"},
      // Dates and timestamps: microseconds, or nanoseconds past six digits, since 1970.
      {SQLT_DAT, 0, 0, "2024-02-29 12:00:00", P::kInt64, 0, Little(kLeapNoon * kMicros, 8)},
      {SQLT_DAT, 0, 0, "2023-02-29 12:00:00", P::kInt64, 0, ""},
      {SQLT_DAT, 0, 0, "2024-04-31 12:00:00", P::kInt64, 0, ""},
      {SQLT_DAT, 0, 0, "2024-02-29", P::kInt64, 0, ""},
      {SQLT_TIMESTAMP, 0, 6, "2024-02-29 12:00:00.000001", P::kInt64, 0,
       Little(kLeapNoon * kMicros + 1, 8)},
      {SQLT_TIMESTAMP, 0, 6, "2024-02-29 12:00:00.0000001", P::kInt64, 0, ""},
      {SQLT_TIMESTAMP, 0, 9, "2024-02-29 12:00:00.000000001", P::kInt64, 0,
       Little(kLeapNoon * kMicros * 1000 + 1, 8)},
      {SQLT_TIMESTAMP, 0, 9, "1677-09-21 00:12:43", P::kInt64, 0, ""},
      {SQLT_TIMESTAMP, 0, 9, "2262-04-11 23:47:17", P::kInt64, 0, ""},
      {SQLT_TIMESTAMP_TZ, 0, 6, "2024-02-29 13:30:00.000000 +01:30", P::kInt64, 0,
       Little(kLeapNoon * kMicros, 8)},
      {SQLT_TIMESTAMP_TZ, 0, 6, "2024-02-29 12:00:00.000000", P::kInt64, 0, ""},
      {SQLT_TIMESTAMP_LTZ, 0, 6, "2024-02-29 12:00:00.000000", P::kInt64, 0,
       Little(kLeapNoon * kMicros, 8)},
      // Binary floating point: the text's own value.
      {SQLT_IBDOUBLE, 0, 0, "0.1", P::kDouble, 0,
       [] {
         const double tenth = 0.1;
         return std::string(reinterpret_cast<const char*>(&tenth), 8);
       }()},
      {SQLT_IBDOUBLE, 0, 0, "0.1x", P::kDouble, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.described) + " " + c.text);
    Columns columns(1);
    ColumnDesc* column = columns.Add("V", c.described, SQLT_CHR, 64, false, false);
    column->precision = static_cast<int16_t>(c.precision);
    column->scale = static_cast<int16_t>(c.scale);
    SetValue(column, 0, c.text);
    std::unique_ptr<UnloadHandle> job = NewJob();
    std::strcpy(job->compress, "NONE");
    ParquetRows rows;
    ColumnDesc* list[] = {column};
    ASSERT_TRUE(PlanParquetRows(&rows, list, 1, job.get()));
    ASSERT_EQ(rows.schema[0].physical, c.physical);
    ASSERT_EQ(rows.schema[0].type_length, c.type_length);
    std::string file;
    rows.writer = ParquetOpen(rows.schema, rows.options, CaptureSink, &file);
    ASSERT_NE(rows.writer, nullptr);
    const bool added = AddParquetRow(&rows, list, 1, 0, nullptr);
    EXPECT_EQ(added, !c.plain.empty());
    if (!added) {
      EXPECT_EQ(rows.bad_position, 0);
      EXPECT_EQ(rows.bad_value, c.text);
      DiscardParquetFile(&rows);
      continue;
    }
    ASSERT_TRUE(FinishParquetFile(&rows));
    EXPECT_NE(file.find(c.plain), std::string::npos);
  }
}

}  // namespace
}  // namespace rowflume
