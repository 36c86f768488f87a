// The Parquet writer's metadata: min and max in each column's sort order, the statistics,
// schema and footer structs, and the row count read back from a file's footer.
#include <bit>
#include <cstring>
#include <fstream>
#include <new>

#include "output/parquet_internal.h"

namespace rowflume {
namespace {

static_assert(std::endian::native == std::endian::little,
              "PLAIN values and statistics are the host's own bytes");

int CompareUnsigned(const char* a, size_t a_count, const char* b, size_t b_count) {
  int order = std::memcmp(a, b, a_count < b_count ? a_count : b_count);
  if (order != 0) return order;
  return a_count < b_count ? -1 : (a_count > b_count ? 1 : 0);
}

// A value against a bound that holds only its first kStatBytes bytes when it is longer: a value
// longer than that which shares them compares as equal, since taking it as the bound would
// leave the bound as it is.
int CompareToBound(const char* data, size_t count, const std::string& bound, bool is_long) {
  if (!is_long) return CompareUnsigned(data, count, bound.data(), bound.size());
  int order = std::memcmp(data, bound.data(), count < kStatBytes ? count : kStatBytes);
  if (order != 0) return order;
  return count <= kStatBytes ? -1 : 0;
}

void SetBound(std::string* bound, bool* is_long, const char* data, size_t count) {
  *is_long = count > kStatBytes;
  bound->assign(data, *is_long ? kStatBytes : count);
}

// Big-endian two's complement integers of any lengths: a shorter one is sign-extended.
int CompareSigned(const char* a, size_t a_count, const char* b, size_t b_count) {
  bool a_negative = a_count > 0 && (a[0] & 0x80);
  bool b_negative = b_count > 0 && (b[0] & 0x80);
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  size_t count = a_count > b_count ? a_count : b_count;
  unsigned char extension = a_negative ? 0xff : 0;
  for (size_t idx = 0; idx < count; ++idx) {
    size_t a_pad = count - a_count, b_pad = count - b_count;
    unsigned char a_byte = idx < a_pad ? extension : static_cast<unsigned char>(a[idx - a_pad]);
    unsigned char b_byte = idx < b_pad ? extension : static_cast<unsigned char>(b[idx - b_pad]);
    if (a_byte != b_byte) return a_byte < b_byte ? -1 : 1;
  }
  return 0;
}

template <typename T>
std::string LittleEndian(T value) {
  std::string bytes(sizeof(T), '\0');
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

// The min and max as PLAIN values of the column's type; false when they are not written.
bool Bounds(const ParquetColumnState& column, std::string* min, std::string* max) {
  const ColumnStats& stats = column.stats;
  switch (column.order) {
    case StatOrder::kSignedInt:
      if (stats.int_min > stats.int_max) return false;
      if (column.width == 4) {
        *min = LittleEndian(static_cast<int32_t>(stats.int_min));
        *max = LittleEndian(static_cast<int32_t>(stats.int_max));
      } else {
        *min = LittleEndian(stats.int_min);
        *max = LittleEndian(stats.int_max);
      }
      return true;
    case StatOrder::kFloat: {
      if (!(stats.float_min <= stats.float_max)) return false;  // no value, or only NaN
      // A zero bound is written as -0.0 for min and +0.0 for max, so that a reader is right
      // whichever zero the column holds.
      double low = stats.float_min == 0 ? -0.0 : stats.float_min;
      double high = stats.float_max == 0 ? 0.0 : stats.float_max;
      if (column.width == 4) {
        *min = LittleEndian(static_cast<float>(low));
        *max = LittleEndian(static_cast<float>(high));
      } else {
        *min = LittleEndian(low);
        *max = LittleEndian(high);
      }
      return true;
    }
    default:
      if (!stats.has_range || stats.omit || stats.min_long || stats.max_long) return false;
      *min = stats.min;
      *max = stats.max;
      return true;
  }
}

}  // namespace

void AddByteStat(ParquetColumnState* column, const char* data, size_t count) {
  ColumnStats& stats = column->stats;
  if (stats.omit) return;
  if (column->order != StatOrder::kUnsignedBytes) {
    // Signed bounds are kept whole; one too long to write may be the min or the max.
    if (count > kStatBytes) {
      stats.omit = true;
    } else if (!stats.has_range) {
      stats.min.assign(data, count);
      stats.max.assign(data, count);
      stats.has_range = true;
    } else {
      if (CompareSigned(data, count, stats.min.data(), stats.min.size()) < 0) {
        stats.min.assign(data, count);
      }
      if (CompareSigned(data, count, stats.max.data(), stats.max.size()) > 0) {
        stats.max.assign(data, count);
      }
    }
    return;
  }
  if (!stats.has_range) {
    SetBound(&stats.min, &stats.min_long, data, count);
    SetBound(&stats.max, &stats.max_long, data, count);
    stats.has_range = true;
    return;
  }
  if (CompareToBound(data, count, stats.min, stats.min_long) < 0) {
    SetBound(&stats.min, &stats.min_long, data, count);
  }
  if (CompareToBound(data, count, stats.max, stats.max_long) > 0) {
    SetBound(&stats.max, &stats.max_long, data, count);
  }
}

void PutColumnChunk(ThriftOut* out, const ParquetWriter& writer, const ParquetColumnState& column,
                    const ChunkPlace& place) {
  ThriftBeginStruct(out);
  ThriftI64(out, 2, place.chunk_start);
  ThriftStructField(out, 3);  // ColumnMetaData
  ThriftI32(out, 1, static_cast<int32_t>(column.desc.physical));
  // The levels are RLE in every data page; a dictionary page holds PLAIN values.
  uint32_t encodings = column.encodings | (1u << kEncodingRle);
  if (place.has_dictionary) encodings |= 1u << kEncodingPlain;
  ThriftListField(out, 2, ThriftType::kI32, static_cast<size_t>(std::popcount(encodings)));
  for (int encoding = 0; encoding < 32; ++encoding) {
    if (encodings & (1u << encoding)) ThriftElementI32(out, encoding);
  }
  ThriftListField(out, 3, ThriftType::kBinary, 1);
  ThriftElementBinary(out, column.desc.name.data(), column.desc.name.size());
  ThriftI32(out, 4, static_cast<int32_t>(writer.options.codec));
  ThriftI64(out, 5, column.num_values);
  ThriftI64(out, 6, place.uncompressed_bytes);
  ThriftI64(out, 7, place.compressed_bytes);
  ThriftI64(out, 9, place.data_start);
  if (place.has_dictionary) ThriftI64(out, 11, place.chunk_start);
  ThriftStructField(out, 12);  // Statistics: the min and max of the current fields 5 and 6
  ThriftI64(out, 3, column.null_count);
  std::string min, max;
  if (Bounds(column, &min, &max)) {
    ThriftString(out, 5, max);
    ThriftString(out, 6, min);
  }
  ThriftEnd(out);
  ThriftEnd(out);
  ThriftEnd(out);
}

void PutSchemaElement(ThriftOut* out, const ParquetColumn& column) {
  constexpr int kOptional = 1;
  constexpr int kConvertedUtf8 = 0, kConvertedDecimal = 5, kConvertedTimestampMicros = 10;
  ThriftBeginStruct(out);
  ThriftI32(out, 1, static_cast<int32_t>(column.physical));
  if (column.physical == ParquetPhysical::kFixedBytes) ThriftI32(out, 2, column.type_length);
  ThriftI32(out, 3, kOptional);
  ThriftString(out, 4, column.name);
  // The converted type as well as the logical type, for readers older than logical types.
  switch (column.logical) {
    case ParquetLogical::kString:
      ThriftI32(out, 6, kConvertedUtf8);
      break;
    case ParquetLogical::kDecimal:
      ThriftI32(out, 6, kConvertedDecimal);
      ThriftI32(out, 7, column.scale);
      ThriftI32(out, 8, column.precision);
      break;
    case ParquetLogical::kTimestampMicros:
      ThriftI32(out, 6, kConvertedTimestampMicros);
      break;
    default:
      break;
  }
  if (column.logical != ParquetLogical::kNone) {
    ThriftStructField(out, 10);  // the LogicalType union: one member
    switch (column.logical) {
      case ParquetLogical::kString:
        ThriftStructField(out, 1);
        ThriftEnd(out);
        break;
      case ParquetLogical::kDecimal:
        ThriftStructField(out, 5);
        ThriftI32(out, 1, column.scale);
        ThriftI32(out, 2, column.precision);
        ThriftEnd(out);
        break;
      default:
        ThriftStructField(out, 8);
        ThriftBool(out, 1, column.utc);
        ThriftStructField(out, 2);  // TimeUnit: MICROS is member 2, NANOS member 3
        ThriftStructField(out, column.logical == ParquetLogical::kTimestampMicros ? 2 : 3);
        ThriftEnd(out);
        ThriftEnd(out);
        ThriftEnd(out);
        break;
    }
    ThriftEnd(out);
  }
  ThriftEnd(out);
}

void PutFileMetaData(const ParquetWriter& writer, std::string* bytes) {
  ThriftOut out;
  ThriftStart(&out, bytes);
  ThriftBeginStruct(&out);
  ThriftI32(&out, 1, 1);
  ThriftListField(&out, 2, ThriftType::kStruct, writer.columns.size() + 1);
  ThriftBeginStruct(&out);
  ThriftString(&out, 4, "schema");
  ThriftI32(&out, 5, static_cast<int32_t>(writer.columns.size()));
  ThriftEnd(&out);
  for (const ParquetColumnState& column : writer.columns) PutSchemaElement(&out, column.desc);
  ThriftI64(&out, 3, writer.file_rows);
  ThriftListField(&out, 4, ThriftType::kStruct, static_cast<size_t>(writer.group_count));
  bytes->append(writer.group_structs);
  if (!writer.options.metadata.empty()) {
    ThriftListField(&out, 5, ThriftType::kStruct, writer.options.metadata.size());
    for (const auto& [key, value] : writer.options.metadata) {
      ThriftBeginStruct(&out);
      ThriftString(&out, 1, key);
      ThriftString(&out, 2, value);
      ThriftEnd(&out);
    }
  }
  if (!writer.options.created_by.empty()) ThriftString(&out, 6, writer.options.created_by);
  // Every column is ordered as its type says (signed integers, unsigned bytes, ...), which is
  // what the statistics follow.
  ThriftListField(&out, 7, ThriftType::kStruct, writer.columns.size());
  for (size_t idx = 0; idx < writer.columns.size(); ++idx) {
    ThriftBeginStruct(&out);
    ThriftStructField(&out, 1);
    ThriftEnd(&out);
    ThriftEnd(&out);
  }
  ThriftEnd(&out);
}

bool ParquetFileRows(const std::string& path, uint64_t* rows) {
  constexpr char kMagic[4] = {'P', 'A', 'R', '1'};
  try {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    if (size < 12) return false;  // the magic bytes twice and the footer's length
    char head[4], tail[8];
    file.seekg(0);
    if (!file.read(head, 4) || std::memcmp(head, kMagic, 4) != 0) return false;
    file.seekg(size - 8);
    if (!file.read(tail, 8) || std::memcmp(tail + 4, kMagic, 4) != 0) return false;
    uint32_t length;
    std::memcpy(&length, tail, 4);
    if (length > size - 12) return false;
    std::vector<uint8_t> footer(length);
    file.seekg(size - 8 - length);
    if (!file.read(reinterpret_cast<char*>(footer.data()), length)) return false;
    ThriftIn in{footer.data(), footer.data() + footer.size()};
    int16_t last = 0, id;
    ThriftType type;
    bool found = false;
    int64_t count = 0;
    for (;;) {
      if (!ThriftNextField(&in, &last, &id, &type)) return false;
      if (type == ThriftType::kStop) break;
      if (id == 3 && type == ThriftType::kI64) {
        if (!ThriftReadInt(&in, &count)) return false;
        found = true;
      } else if (!ThriftSkip(&in, type, 1)) {
        return false;
      }
    }
    if (!found || count < 0) return false;
    *rows = static_cast<uint64_t>(count);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace rowflume
