// The Parquet writer's state, shared by its value and page code (parquet_writer.cpp) and its
// metadata code (parquet_footer.cpp: statistics, the column chunk and footer structs, reading a
// footer back). Only parquet_writer.h is for other modules.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "output/parquet_writer.h"
#include "output/thrift_compact.h"

namespace rowflume {

// Encodings, numbered as the format numbers them.
constexpr int kEncodingPlain = 0;
constexpr int kEncodingRle = 3;
constexpr int kEncodingRleDictionary = 8;

constexpr size_t kPageBytes = size_t{1} << 20;  // a data page's values, before encoding

// Min and max of a column are written only while they are at most this long: a longer value is
// left out rather than cut, which would need the rules for truncated bounds.
constexpr size_t kStatBytes = 64;

// How a column's values compare for its min and max.
enum class StatOrder : uint8_t {
  kSignedInt,      // INT32, INT64
  kFloat,          // FLOAT, DOUBLE: NaN left out
  kUnsignedBytes,  // byte arrays, bytewise
  kSignedFixed,    // big-endian two's complement of one length: decimals as fixed bytes
  kSignedBytes,    // big-endian two's complement of any length: decimals as byte arrays
};

// The numeric bounds start past their ends (min above max) so that the first value sets both
// and a NaN, which compares false, sets neither.
struct ColumnStats {
  int64_t int_min = INT64_MAX;  // kSignedInt
  int64_t int_max = INT64_MIN;
  double float_min = HUGE_VAL;  // kFloat; a float column's values convert to double exactly
  double float_max = -HUGE_VAL;
  bool has_range = false;  // the byte orders: a value has been seen
  std::string min;         // the value, or its first kStatBytes bytes when it is longer
  std::string max;
  bool min_long = false;  // min is longer than kStatBytes; min holds its first kStatBytes
  bool max_long = false;
  bool omit = false;  // a value that cannot be compared exactly was seen (kSignedBytes)
};

struct ParquetColumnState {
  ParquetColumn desc;
  int width = 0;  // bytes of a fixed-width value; 0 for byte arrays
  StatOrder order = StatOrder::kSignedInt;

  // The page being filled.
  int32_t page_values = 0;        // nulls included
  std::vector<uint8_t> levels;    // definition levels, kept only once the page has a null
  std::vector<char> values;       // PLAIN values of a plain page
  std::vector<uint32_t> indices;  // dictionary entries of a dictionary-encoded page

  // The dictionary of the row group; dictionary false once it has passed its limits, the rest
  // of the chunk then being PLAIN.
  bool dictionary = true;
  uint32_t entry_count = 0;
  std::vector<char> entries;       // the dictionary page's PLAIN values
  std::vector<uint32_t> entry_at;  // byte arrays: where each entry's length prefix is
  std::vector<uint32_t> slots;     // open addressing: entry + 1, 0 for none
  int slot_shift = 0;              // 64 - log2(slots)

  // The chunk: data pages encoded and compressed, headers included, each in a block of its own
  // size, so that the memory they take is the bytes they hold (one growing buffer would take up
  // to twice as much, and three times while it moves).
  std::vector<std::string> pages;
  int64_t pages_uncompressed = 0;  // those pages' bytes before compression, headers included
  int64_t num_values = 0;          // in the pages, nulls included
  int64_t null_count = 0;          // in the chunk, the current page included
  uint32_t encodings = 0;          // bit per encoding used by the data pages
  ColumnStats stats;
};

// What compressing a page takes: one for each thread that compresses.
struct PageScratch {
  void* zstd = nullptr;      // the compression context, reused for every page
  std::string header;        // the page's header
  std::vector<char> packed;  // its compressed body
};

// Obtains what the codec needs; false when it cannot.
bool StartScratch(PageScratch* scratch, ParquetCodec codec);
void FreeScratch(PageScratch* scratch);

// Compresses a page body and sets scratch->header; *packed is the compressed body (the body
// itself when not compressed). False when it cannot be compressed or is too large for the
// header's sizes.
bool PackPage(ParquetCodec codec, PageScratch* scratch, int type, const char* body, size_t count,
              int32_t values, int encoding, const char** packed, size_t* packed_count);

struct PagePacker;  // parquet_packer.cpp

struct ParquetWriter {
  std::vector<ParquetColumnState> columns;
  ParquetOptions options;
  ParquetSink sink = nullptr;
  void* context = nullptr;
  PageScratch scratch;  // the row loop's thread's: dictionary pages, and data pages without
                        // a packer
  PagePacker* packer = nullptr;  // compresses data pages on a thread of its own; none: here
  // Bytes of the data pages ended in the row group: compressed ones in their chunks and bodies
  // waiting for the packer. The packer changes it as it works.
  std::atomic<int64_t> pages_bytes{0};
  bool failed = false;     // a write or an allocation failed; nothing more is written
  int64_t position = 0;    // bytes written to the sink
  int64_t group_rows = 0;  // rows of the row group being held
  int64_t file_rows = 0;   // rows of the row groups written
  int32_t group_count = 0;
  std::string group_structs;  // the RowGroup structs written, for the footer's list
  std::string body;           // a page being encoded
};

// Writes bytes through the sink unless the writer has failed; a failed write fails it.
void PutBytes(ParquetWriter* writer, const void* data, size_t count);

// Ends the page being filled: its levels and values encoded, compressed and added to the chunk,
// here or by the packer.
void EndPage(ParquetWriter* writer, ParquetColumnState* column);

// Adds a compressed page, scratch's header before it, to the column's chunk.
void AddPage(ParquetWriter* writer, ParquetColumnState* column, const PageScratch& scratch,
             const char* packed, size_t packed_count, size_t body_count);

// The packer: data pages are compressed on its thread, in the order they were ended, and added
// to their chunks there; a few wait at most, so that the row loop's thread fills the next while
// the packer compresses. Null when the codec leaves nothing to do or no thread can start: pages
// are then compressed where they end.
PagePacker* StartPacker(ParquetWriter* writer);
// Takes the page body (moved from *body) of a column's page of values values.
void QueuePage(PagePacker* packer, ParquetColumnState* column, std::string* body, int32_t values,
               int encoding);
// Waits until every queued page is in its chunk; false when one could not be compressed.
bool DrainPacker(PagePacker* packer);
// Ends the thread; pages still queued are dropped.
void StopPacker(PagePacker* packer);

// Ends every column's page and writes the row group's chunks out (nothing when it has no row),
// keeping its RowGroup struct for the footer.
void WriteRowGroup(ParquetWriter* writer);

// The ColumnChunk struct of a column whose chunk has been written (as a list element): its
// pages from chunk_start, the data pages from data_start, a dictionary page first when
// has_dictionary; sizes with the page headers.
struct ChunkPlace {
  int64_t chunk_start;
  int64_t data_start;
  bool has_dictionary;
  int64_t uncompressed_bytes;
  int64_t compressed_bytes;
};
void PutColumnChunk(ThriftOut* out, const ParquetWriter& writer, const ParquetColumnState& column,
                    const ChunkPlace& place);

// Updates a byte-ordered column's min and max with a value.
void AddByteStat(ParquetColumnState* column, const char* data, size_t count);

// The SchemaElement of a leaf column, as a list element.
void PutSchemaElement(ThriftOut* out, const ParquetColumn& column);

// The whole FileMetaData struct of the file as written so far.
void PutFileMetaData(const ParquetWriter& writer, std::string* bytes);

}  // namespace rowflume
