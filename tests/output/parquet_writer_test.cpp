// The Parquet writer where independent readers cannot look: the row count read back from
// written, cut and damaged files; memory held while writing staying under the row group limit;
// a sink that fails at any byte failing the file; the columns and calls it refuses.
#include "output/parquet_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/files.h"

namespace rowflume {
namespace {

using testing_support::TempPath;
using testing_support::WriteFile;

struct Capture {
  std::string bytes;
  size_t fail_at = SIZE_MAX;  // the sink refuses the write that would pass this many bytes
};

bool CaptureSink(void* context, const void* data, size_t count) {
  auto* capture = static_cast<Capture*>(context);
  if (capture->bytes.size() + count > capture->fail_at) return false;
  capture->bytes.append(static_cast<const char*>(data), count);
  return true;
}

const std::vector<ParquetColumn> kColumns = {
    {"id", ParquetPhysical::kInt64},
    {"name", ParquetPhysical::kByteArray, ParquetLogical::kString},
    {"amount", ParquetPhysical::kFixedBytes, ParquetLogical::kDecimal, 16, 38, 2},
    {"ratio", ParquetPhysical::kDouble},
};

// Writes rows of every column, with nulls, unique ids (which end the dictionary) and repeated
// names; false when any call failed.
bool WriteRows(ParquetWriter* writer, int rows, int64_t* max_held = nullptr) {
  for (int row = 0; row < rows; ++row) {
    ParquetInt64(writer, 0, row * 7919LL);
    std::string name = "name" + std::to_string(row % 50);
    if (row % 5 == 0) {
      ParquetNull(writer, 1);
    } else {
      ParquetBytes(writer, 1, name.data(), name.size());
    }
    unsigned char amount[16] = {};
    amount[15] = static_cast<unsigned char>(row);
    ParquetBytes(writer, 2, amount, sizeof amount);
    ParquetDouble(writer, 3, row / 3.0);
    if (!ParquetEndRow(writer)) return false;
    if (max_held != nullptr) *max_held = std::max(*max_held, ParquetHeldBytes(writer));
  }
  return true;
}

ParquetOptions Options(int64_t row_group_bytes, ParquetCodec codec = ParquetCodec::kNone) {
  ParquetOptions options;
  options.codec = codec;
  options.row_group_bytes = row_group_bytes;
  options.metadata = {{"origin", "test"}};
  return options;
}

std::string WrittenFile(int rows, int64_t row_group_bytes, ParquetCodec codec) {
  Capture capture;
  ParquetOptions options = Options(row_group_bytes, codec);
  ParquetWriter* writer = ParquetOpen(kColumns, options, CaptureSink, &capture);
  EXPECT_NE(writer, nullptr);
  if (writer == nullptr) return "";
  EXPECT_TRUE(WriteRows(writer, rows));
  EXPECT_TRUE(ParquetClose(writer));
  return capture.bytes;
}

bool RowsOf(const std::string& bytes, uint64_t* rows) {
  std::string path = TempPath("rows.parquet");
  WriteFile(path, bytes);
  return ParquetFileRows(path, rows);
}

TEST(ParquetWriter, FooterGivesTheRowsOfEveryCodecAndRowGroupSize) {
  for (ParquetCodec codec : {ParquetCodec::kNone, ParquetCodec::kSnappy, ParquetCodec::kZstd}) {
    if (!ParquetCodecAvailable(codec)) continue;
    for (int64_t group_bytes : {int64_t{1}, int64_t{4096}, int64_t{64} << 20}) {
      for (int rows : {0, 1, 3000}) {
        SCOPED_TRACE(testing::Message() << "codec " << static_cast<int>(codec) << " group "
                                        << group_bytes << " rows " << rows);
        uint64_t read = UINT64_MAX;
        EXPECT_TRUE(RowsOf(WrittenFile(rows, group_bytes, codec), &read));
        EXPECT_EQ(read, static_cast<uint64_t>(rows));
      }
    }
  }
}

TEST(ParquetWriter, FileRowsRefusesCutAndDamagedFiles) {
  std::string whole = WrittenFile(60, 2048, ParquetCodec::kNone);
  uint64_t rows;
  EXPECT_FALSE(ParquetFileRows(TempPath("no such file"), &rows));
  for (size_t length = 0; length < whole.size(); length += 7) {
    EXPECT_FALSE(RowsOf(whole.substr(0, length), &rows)) << length;
  }
  // Damage anywhere in the footer and its length may make any count, but is never read past
  // the bytes (the sanitizer build watches); a length past the file is refused.
  uint32_t footer_length;
  std::memcpy(&footer_length, whole.data() + whole.size() - 8, 4);
  std::mt19937 random(7);
  for (size_t at = whole.size() - 8 - footer_length; at < whole.size() - 4; ++at) {
    for (int value : {0xff, static_cast<int>(random() & 0xff)}) {
      std::string damaged = whole;
      damaged[at] = static_cast<char>(value);
      RowsOf(damaged, &rows);
    }
  }
  std::string too_long = whole;
  too_long[too_long.size() - 5] = 0x7f;
  EXPECT_FALSE(RowsOf(too_long, &rows));
  std::string garbage(4096, '\xff');
  garbage.replace(0, 4, "PAR1");
  garbage.replace(garbage.size() - 8, 8, std::string("\x00\x0f\x00\x00PAR1", 8));
  EXPECT_FALSE(RowsOf(garbage, &rows));
}

// A footer from another writer holds fields this one never writes: every kind of value before
// the row count, in the long form of field ids too, must be skipped to reach it.
TEST(ParquetWriter, FileRowsSkipsEveryKindOfField) {
  const std::string kBefore(
      "\x15\x02"                                  // 1: i32 1
      "\x19\x31\x01\x00\x01"                      // 2: list of 3 booleans
      "\x07\x28\x00\x00\x00\x00\x00\x00\xf0\x3f"  // 20 (long form): double 1.0
      "\x1b\x02\x58\x02\x01\x61\x04\x00"          // 21: map of i32 to binary, 2 pairs
      "\x1a\x1c\x11\x00"                          // 22: set of 1 struct holding a true boolean
      "\x1b\x00"                                  // 23: empty map
      "\x13\x7f"                                  // 24: byte
      "\x06\x06",                                 // 3 (long form, going back): i64 follows
      35);
  auto file = [](const std::string& footer) {
    uint32_t length = static_cast<uint32_t>(footer.size());
    return "PAR1" + footer + std::string(reinterpret_cast<const char*>(&length), 4) + "PAR1";
  };
  uint64_t rows = 0;
  EXPECT_TRUE(RowsOf(file(kBefore + std::string("\xf2\xc0\x01\x00", 4)), &rows));
  EXPECT_EQ(rows, 12345u);
  // Without the stop byte, with an unknown type code, or lists nested past any real footer's
  // depth.
  EXPECT_FALSE(RowsOf(file(kBefore + "\xf2\xc0\x01"), &rows));
  EXPECT_FALSE(RowsOf(file(std::string("\x1d\x00", 2)), &rows));
  EXPECT_FALSE(RowsOf(file(std::string(40, '\x19')), &rows));
}

TEST(ParquetWriter, HeldBytesStayUnderTheRowGroupLimit) {
  for (int64_t limit : {int64_t{16} << 10, int64_t{1} << 20}) {
    Capture capture;
    ParquetWriter* writer = ParquetOpen(kColumns, Options(limit), CaptureSink, &capture);
    ASSERT_NE(writer, nullptr);
    int64_t max_held = 0;
    ASSERT_TRUE(WriteRows(writer, 100000, &max_held));
    EXPECT_LT(max_held, limit);
    EXPECT_GT(max_held, limit / 2);
    EXPECT_GT(capture.bytes.size(), static_cast<size_t>(limit));  // row groups went out
    EXPECT_TRUE(ParquetClose(writer));
  }
}

TEST(ParquetWriter, SinkFailingAtAnyByteFailsTheFile) {
  size_t whole = WrittenFile(300, 2048, ParquetCodec::kNone).size();
  for (size_t fail_at = 0; fail_at < whole; fail_at += 13) {
    Capture capture;
    capture.fail_at = fail_at;
    ParquetWriter* writer = ParquetOpen(kColumns, Options(2048), CaptureSink, &capture);
    if (writer == nullptr) {
      EXPECT_LT(fail_at, 4u);
      continue;
    }
    bool rows_written = WriteRows(writer, 300);
    EXPECT_FALSE(ParquetClose(writer) && rows_written) << fail_at;
    // After the failure nothing more reached the sink.
    EXPECT_LE(capture.bytes.size(), fail_at);
  }
}

TEST(ParquetWriter, RefusesColumnsAndCallsThatDoNotFit) {
  using P = ParquetPhysical;
  using L = ParquetLogical;
  const std::vector<ParquetColumn> kRefused[] = {
      {},
      {{"d", P::kInt32, L::kDecimal, 0, 10, 2}},
      {{"d", P::kInt64, L::kDecimal, 0, 19, 2}},
      {{"d", P::kFixedBytes, L::kDecimal, 4, 10, 0}},
      {{"d", P::kInt64, L::kDecimal, 0, 5, 6}},
      {{"s", P::kInt32, L::kString}},
      {{"t", P::kInt32, L::kTimestampMicros}},
      {{"f", P::kFixedBytes}},
  };
  Capture capture;
  for (const auto& columns : kRefused) {
    EXPECT_EQ(ParquetOpen(columns, ParquetOptions{}, CaptureSink, &capture), nullptr);
  }
  // A value of the wrong type or length would make a file no reader can trust.
  auto wrong_int = [](ParquetWriter* writer) { ParquetInt32(writer, 0, 1); };
  auto short_amount = [](ParquetWriter* writer) { ParquetBytes(writer, 2, "12", 2); };
  auto no_column = [](ParquetWriter* writer) { ParquetNull(writer, 4); };
  for (auto call : {+wrong_int, +short_amount, +no_column}) {
    ParquetWriter* writer = ParquetOpen(kColumns, ParquetOptions{}, CaptureSink, &capture);
    ASSERT_NE(writer, nullptr);
    call(writer);
    EXPECT_FALSE(ParquetEndRow(writer));
    EXPECT_FALSE(ParquetClose(writer));
  }
}

TEST(ParquetWriter, CodecsOfThisBuild) {
  EXPECT_TRUE(ParquetCodecAvailable(ParquetCodec::kNone));
#ifdef _WIN32
  bool expected = false;  // the Windows builds have neither library
#else
  bool expected = true;
#endif
  EXPECT_EQ(ParquetCodecAvailable(ParquetCodec::kZstd), expected);
  EXPECT_EQ(ParquetCodecAvailable(ParquetCodec::kSnappy), expected);
  ParquetOptions options;
  options.codec = ParquetCodec::kZstd;
  Capture capture;
  ParquetWriter* writer = ParquetOpen(kColumns, options, CaptureSink, &capture);
  EXPECT_EQ(writer != nullptr, expected);
  if (writer != nullptr) ParquetDiscard(writer);
  if (expected) {
    // Repeated rows compress: the pages did go through the codec.
    EXPECT_LT(WrittenFile(20000, int64_t{64} << 20, ParquetCodec::kZstd).size(),
              WrittenFile(20000, int64_t{64} << 20, ParquetCodec::kNone).size() / 2);
  }
}

}  // namespace
}  // namespace rowflume
