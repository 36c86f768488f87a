// The Parquet writer's values, pages and row groups. A column chunk is built in memory: its
// data pages compressed as each fills, its dictionary beside them; the dictionary page goes
// first when the row group is written out, as it is known whole only then.
#include "output/parquet_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "common/inlining.h"
#include "output/parquet_internal.h"

namespace rowflume {
namespace {

constexpr size_t kDictionaryBytes = size_t{1} << 20;  // a dictionary's PLAIN values
// Past this many distinct values in a row group, dictionary indices cost more in hashing than
// they save: the table no longer stays in the processor's caches (twice the time per value at
// 2^17 on 2M rows of eight columns).
constexpr uint32_t kDictionaryEntries = uint32_t{1} << 16;
constexpr size_t kFirstSlots = 1024;
// Held bytes of a dictionary entry beside its value: two slots (the table is at most half
// full) and where a byte array's entry starts.
constexpr int64_t kEntryOverhead = 3 * sizeof(uint32_t);
// A value and its page's levels and header fit the page header's 32-bit sizes.
constexpr size_t kMaxValueBytes = (size_t{1} << 31) - (size_t{1} << 20);
constexpr uint32_t kNoEntry = UINT32_MAX;
// 2^64 divided by the golden ratio: Fibonacci hashing (Knuth, TAOCP vol. 3, 6.4), whose high
// bits depend on every bit of the key.
constexpr uint64_t kFibonacci = 0x9E3779B97F4A7C15ull;

// The largest precision of a decimal in n bytes, floor((8n - 1) log10 2), for n up to 16.
constexpr int kFixedPrecision[17] = {0, 2, 4, 6, 9, 11, 14, 16, 18, 21, 23, 26, 28, 31, 33, 35, 38};

bool ValidColumn(const ParquetColumn& column) {
  switch (column.physical) {
    case ParquetPhysical::kInt32:
    case ParquetPhysical::kInt64:
    case ParquetPhysical::kFloat:
    case ParquetPhysical::kDouble:
    case ParquetPhysical::kByteArray:
      break;
    case ParquetPhysical::kFixedBytes:
      if (column.type_length <= 0 || static_cast<size_t>(column.type_length) > kMaxValueBytes) {
        return false;
      }
      break;
    default:
      return false;
  }
  switch (column.logical) {
    case ParquetLogical::kNone:
      return true;
    case ParquetLogical::kString:
      return column.physical == ParquetPhysical::kByteArray;
    case ParquetLogical::kTimestampMicros:
    case ParquetLogical::kTimestampNanos:
      return column.physical == ParquetPhysical::kInt64;
    case ParquetLogical::kDecimal:
      if (column.precision < 1 || column.precision > 38) return false;
      if (column.scale < 0 || column.scale > column.precision) return false;
      switch (column.physical) {
        case ParquetPhysical::kInt32:
          return column.precision <= 9;
        case ParquetPhysical::kInt64:
          return column.precision <= 18;
        case ParquetPhysical::kFixedBytes:
          return column.type_length > 16 || column.precision <= kFixedPrecision[column.type_length];
        case ParquetPhysical::kByteArray:
          return true;
        default:
          return false;
      }
  }
  return false;
}

void InitColumn(ParquetColumnState* state, const ParquetColumn& column) {
  state->desc = column;
  bool decimal = column.logical == ParquetLogical::kDecimal;
  switch (column.physical) {
    case ParquetPhysical::kInt32:
    case ParquetPhysical::kInt64:
      state->width = column.physical == ParquetPhysical::kInt32 ? 4 : 8;
      state->order = StatOrder::kSignedInt;
      break;
    case ParquetPhysical::kFloat:
    case ParquetPhysical::kDouble:
      state->width = column.physical == ParquetPhysical::kFloat ? 4 : 8;
      state->order = StatOrder::kFloat;
      break;
    case ParquetPhysical::kFixedBytes:
      state->width = column.type_length;
      state->order = decimal ? StatOrder::kSignedFixed : StatOrder::kUnsignedBytes;
      break;
    default:
      state->width = 0;
      state->order = decimal ? StatOrder::kSignedBytes : StatOrder::kUnsignedBytes;
      break;
  }
  state->slots.assign(kFirstSlots, 0);
  state->slot_shift = 64 - std::countr_zero(kFirstSlots);
}

void FreeWriter(ParquetWriter* writer) {
  StopPacker(writer->packer);
  FreeScratch(&writer->scratch);
  delete writer;
}

bool IntegerKeys(const ParquetColumnState& column) {
  return column.desc.physical != ParquetPhysical::kByteArray &&
         column.desc.physical != ParquetPhysical::kFixedBytes;
}

uint64_t HashBytes(const char* data, size_t count) {
  uint64_t hash = count;
  size_t at = 0;
  for (; at + 8 <= count; at += 8) {
    uint64_t word;
    std::memcpy(&word, data + at, 8);
    hash = (std::rotl(hash, 27) ^ word) * kFibonacci;
  }
  if (at < count) {
    uint64_t word = 0;
    std::memcpy(&word, data + at, count - at);
    hash = (std::rotl(hash, 27) ^ word) * kFibonacci;
  }
  return hash;
}

// An entry's value: where it starts in entries, and its length.
const char* EntryValue(const ParquetColumnState& column, uint32_t entry, size_t* count) {
  if (column.width > 0) {
    *count = static_cast<size_t>(column.width);
    return column.entries.data() + static_cast<size_t>(entry) * *count;
  }
  uint32_t length;
  std::memcpy(&length, column.entries.data() + column.entry_at[entry], 4);
  *count = length;
  return column.entries.data() + column.entry_at[entry] + 4;
}

// The hash of a value as the table keys it: integer and float values by their bits.
uint64_t KeyHash(const ParquetColumnState& column, const char* data, size_t count) {
  if (!IntegerKeys(column)) return HashBytes(data, count);
  uint64_t key = 0;
  std::memcpy(&key, data, count);
  return key;
}

size_t SlotOf(const ParquetColumnState& column, uint64_t hash) {
  return static_cast<size_t>((hash * kFibonacci) >> column.slot_shift);
}

ROWFLUME_NOINLINE void GrowSlots(ParquetColumnState* column) {
  column->slots.assign(column->slots.size() * 2, 0);
  --column->slot_shift;
  size_t mask = column->slots.size() - 1;
  for (uint32_t entry = 0; entry < column->entry_count; ++entry) {
    size_t count;
    const char* data = EntryValue(*column, entry, &count);
    size_t slot = SlotOf(*column, KeyHash(*column, data, count));
    while (column->slots[slot] != 0) slot = (slot + 1) & mask;
    column->slots[slot] = entry + 1;
  }
}

void AddStat(ParquetColumnState* column, const char* data, size_t count) {
  ColumnStats& stats = column->stats;
  if (column->order == StatOrder::kSignedInt) {
    int64_t value;
    if (column->width == 4) {
      int32_t narrow;
      std::memcpy(&narrow, data, 4);
      value = narrow;
    } else {
      std::memcpy(&value, data, 8);
    }
    stats.int_min = std::min(stats.int_min, value);
    stats.int_max = std::max(stats.int_max, value);
  } else if (column->order == StatOrder::kFloat) {
    double value;
    if (column->width == 4) {
      float narrow;
      std::memcpy(&narrow, data, 4);
      value = narrow;
    } else {
      std::memcpy(&value, data, 8);
    }
    if (value < stats.float_min) stats.float_min = value;
    if (value > stats.float_max) stats.float_max = value;
  } else {
    AddByteStat(column, data, count);
  }
}

// Adds a value the table does not hold at its free slot; kNoEntry when the dictionary is full.
// Only a new entry can move the chunk's min or max, so a dictionary-encoded chunk's statistics
// are kept here.
ROWFLUME_NOINLINE uint32_t AddEntry(ParquetColumnState* column, const char* data, size_t count,
                                    size_t slot) {
  size_t need = column->width > 0 ? count : count + 4;
  if (column->entries.size() + need > kDictionaryBytes ||
      column->entry_count >= kDictionaryEntries) {
    return kNoEntry;
  }
  if (column->width == 0) {
    column->entry_at.push_back(static_cast<uint32_t>(column->entries.size()));
    uint32_t length = static_cast<uint32_t>(count);
    const char* prefix = reinterpret_cast<const char*>(&length);
    column->entries.insert(column->entries.end(), prefix, prefix + 4);
  }
  column->entries.insert(column->entries.end(), data, data + count);
  AddStat(column, data, count);
  uint32_t entry = column->entry_count++;
  column->slots[slot] = entry + 1;
  if (static_cast<size_t>(column->entry_count) * 2 > column->slots.size()) GrowSlots(column);
  return entry;
}

// The value's dictionary entry, added when new; kNoEntry when the dictionary is full. kWidth is
// the fixed width of an integer-keyed column, 0 for the others.
template <int kWidth>
ROWFLUME_ALWAYS_INLINE inline uint32_t Lookup(ParquetColumnState* column, const char* data,
                                              size_t count, uint64_t hash) {
  size_t mask = column->slots.size() - 1;
  for (size_t slot = SlotOf(*column, hash);; slot = (slot + 1) & mask) {
    uint32_t held = column->slots[slot];
    if (held == 0) return AddEntry(column, data, count, slot);
    if constexpr (kWidth > 0) {
      if (std::memcmp(column->entries.data() + static_cast<size_t>(held - 1) * kWidth, data,
                      kWidth) == 0) {
        return held - 1;
      }
    } else {
      size_t entry_count;
      const char* entry = EntryValue(*column, held - 1, &entry_count);
      if (entry_count == count && std::memcmp(entry, data, count) == 0) return held - 1;
    }
  }
}

size_t PageBytes(const ParquetColumnState& column) {
  return column.values.size() + column.indices.size() * sizeof(uint32_t) + column.levels.size();
}

// The dictionary has passed its limits: the page so far keeps its indices, and the rest of the
// row group's chunk is PLAIN.
ROWFLUME_NOINLINE void EndDictionary(ParquetWriter* writer, ParquetColumnState* column) {
  EndPage(writer, column);
  column->dictionary = false;
}

ROWFLUME_ALWAYS_INLINE inline void EndValue(ParquetWriter* writer, ParquetColumnState* column) {
  if (!column->levels.empty()) column->levels.push_back(1);
  ++column->page_values;
  if (PageBytes(*column) >= kPageBytes) EndPage(writer, column);
}

// The column of a value of that physical type; none (and the writer failed) when the call does
// not match the schema, which would make a file no reader can trust.
ROWFLUME_ALWAYS_INLINE inline ParquetColumnState* ColumnFor(ParquetWriter* writer, int column,
                                                            ParquetPhysical physical) {
  if (writer->failed) return nullptr;
  if (static_cast<size_t>(column) >= writer->columns.size() ||
      writer->columns[column].desc.physical != physical) {
    writer->failed = true;
    return nullptr;
  }
  return &writer->columns[column];
}

template <typename T>
ROWFLUME_ALWAYS_INLINE inline void AddFixed(ParquetWriter* writer, int column_idx, T value,
                                            ParquetPhysical physical) {
  ParquetColumnState* column = ColumnFor(writer, column_idx, physical);
  if (column == nullptr) return;
  const char* data = reinterpret_cast<const char*>(&value);
  if (column->dictionary) {
    uint64_t key = 0;
    std::memcpy(&key, &value, sizeof(T));
    uint32_t entry = Lookup<sizeof(T)>(column, data, sizeof(T), key);
    if (entry != kNoEntry) {
      column->indices.push_back(entry);
      EndValue(writer, column);
      return;
    }
    EndDictionary(writer, column);
  }
  column->values.insert(column->values.end(), data, data + sizeof(T));
  ColumnStats& stats = column->stats;
  if constexpr (std::is_integral_v<T>) {
    stats.int_min = std::min<int64_t>(stats.int_min, value);
    stats.int_max = std::max<int64_t>(stats.int_max, value);
  } else {
    if (value < stats.float_min) stats.float_min = value;
    if (value > stats.float_max) stats.float_max = value;
  }
  EndValue(writer, column);
}

int64_t HeldBytes(const ParquetColumnState& column) {
  return static_cast<int64_t>(PageBytes(column) + column.entries.size()) +
         column.entry_count * kEntryOverhead;
}

}  // namespace

bool ParquetCodecAvailable(ParquetCodec codec) {
  switch (codec) {
    case ParquetCodec::kNone:
      return true;
    case ParquetCodec::kSnappy:
#ifdef ROWFLUME_HAVE_SNAPPY
      return true;
#else
      return false;
#endif
    case ParquetCodec::kZstd:
#ifdef ROWFLUME_HAVE_ZSTD
      return true;
#else
      return false;
#endif
  }
  return false;
}

ParquetWriter* ParquetOpen(const std::vector<ParquetColumn>& columns, const ParquetOptions& options,
                           ParquetSink sink, void* context) {
  if (columns.empty() || columns.size() > INT32_MAX || !ParquetCodecAvailable(options.codec)) {
    return nullptr;
  }
  for (const ParquetColumn& column : columns) {
    if (!ValidColumn(column)) return nullptr;
  }
  ParquetWriter* writer = nullptr;
  try {
    auto made = std::make_unique<ParquetWriter>();
    made->columns.resize(columns.size());
    for (size_t idx = 0; idx < columns.size(); ++idx) InitColumn(&made->columns[idx], columns[idx]);
    made->options = options;
    made->sink = sink;
    made->context = context;
    writer = made.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (!StartScratch(&writer->scratch, options.codec)) writer->failed = true;
  writer->packer = writer->failed ? nullptr : StartPacker(writer);
  PutBytes(writer, "PAR1", 4);
  if (writer->failed) {
    FreeWriter(writer);
    return nullptr;
  }
  return writer;
}

// Each value call catches a failed allocation and fails the writer: nothing throws out of it.
void ParquetNull(ParquetWriter* writer, int column_idx) {
  if (writer->failed) return;
  if (static_cast<size_t>(column_idx) >= writer->columns.size()) {
    writer->failed = true;
    return;
  }
  ParquetColumnState* column = &writer->columns[column_idx];
  try {
    if (column->levels.empty()) column->levels.assign(column->page_values, 1);
    column->levels.push_back(0);
    ++column->page_values;
    ++column->null_count;
    if (PageBytes(*column) >= kPageBytes) EndPage(writer, column);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
}

void ParquetInt32(ParquetWriter* writer, int column, int32_t value) {
  try {
    AddFixed(writer, column, value, ParquetPhysical::kInt32);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
}

void ParquetInt64(ParquetWriter* writer, int column, int64_t value) {
  try {
    AddFixed(writer, column, value, ParquetPhysical::kInt64);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
}

void ParquetFloat(ParquetWriter* writer, int column, float value) {
  try {
    AddFixed(writer, column, value, ParquetPhysical::kFloat);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
}

void ParquetDouble(ParquetWriter* writer, int column, double value) {
  try {
    AddFixed(writer, column, value, ParquetPhysical::kDouble);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
}

void ParquetBytes(ParquetWriter* writer, int column_idx, const void* data, size_t count) {
  if (writer->failed) return;
  if (static_cast<size_t>(column_idx) >= writer->columns.size()) {
    writer->failed = true;
    return;
  }
  ParquetColumnState* column = &writer->columns[column_idx];
  ParquetPhysical physical = column->desc.physical;
  bool fits = physical == ParquetPhysical::kFixedBytes
                  ? count == static_cast<size_t>(column->width)
                  : physical == ParquetPhysical::kByteArray && count <= kMaxValueBytes;
  if (!fits) {
    writer->failed = true;
    return;
  }
  const char* bytes = count > 0 ? static_cast<const char*>(data) : "";
  try {
    if (column->dictionary) {
      uint32_t entry = Lookup<0>(column, bytes, count, HashBytes(bytes, count));
      if (entry != kNoEntry) {
        column->indices.push_back(entry);
        EndValue(writer, column);
        return;
      }
      EndDictionary(writer, column);
    }
    // A value that would take its page past the limit starts a page of its own.
    size_t need = column->width > 0 ? count : count + 4;
    if (!column->values.empty() && column->values.size() + need > kPageBytes) {
      EndPage(writer, column);
    }
    if (column->width == 0) {
      uint32_t length = static_cast<uint32_t>(count);
      const char* prefix = reinterpret_cast<const char*>(&length);
      column->values.insert(column->values.end(), prefix, prefix + 4);
    }
    column->values.insert(column->values.end(), bytes, bytes + count);
    AddByteStat(column, bytes, count);
    EndValue(writer, column);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
}

bool ParquetEndRow(ParquetWriter* writer) {
  if (writer->failed) return false;
  ++writer->group_rows;
  try {
    if (ParquetHeldBytes(writer) >= writer->options.row_group_bytes) WriteRowGroup(writer);
  } catch (const std::bad_alloc&) {
    writer->failed = true;
  }
  return !writer->failed;
}

int64_t ParquetHeldBytes(const ParquetWriter* writer) {
  int64_t held = writer->pages_bytes;
  for (const ParquetColumnState& column : writer->columns) held += HeldBytes(column);
  return held;
}

bool ParquetClose(ParquetWriter* writer) {
  if (writer == nullptr) return false;
  bool ok = false;
  try {
    WriteRowGroup(writer);
    std::string footer;
    PutFileMetaData(*writer, &footer);
    uint32_t length = static_cast<uint32_t>(footer.size());
    footer.append(reinterpret_cast<const char*>(&length), 4);
    footer.append("PAR1", 4);
    PutBytes(writer, footer.data(), footer.size());
    ok = !writer->failed;
  } catch (const std::bad_alloc&) {
  }
  FreeWriter(writer);
  return ok;
}

void ParquetDiscard(ParquetWriter* writer) {
  if (writer != nullptr) FreeWriter(writer);
}

}  // namespace rowflume
