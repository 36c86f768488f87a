// Field encoding throughput: a realistic mix of CSV rows (numbers, names, dates, free text with
// an occasional quote, some NULLs) encoded from in-memory define buffers into the output buffer.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "db/columns.h"
#include "job/job_record.h"
#include "output/field_encoding.h"
#include "output/output_buffer.h"

namespace rowflume {
namespace {

constexpr int kRows = 1000;

struct Table {
  ColumnDesc head{};
  std::vector<ColumnDesc*> columns;

  ColumnDesc* Add(const char* name, int described, int width, bool quotable) {
    auto* c = static_cast<ColumnDesc*>(std::calloc(1, sizeof(ColumnDesc)));
    std::strncpy(c->name, name, 30);
    c->name_length = static_cast<uint32_t>(std::strlen(c->name));
    c->described_type = static_cast<int16_t>(described);
    c->define_type = SQLT_CHR;
    c->define_width = width;
    c->display_width = width;
    c->quotable = quotable ? 1 : 0;
    c->hex = quotable ? 1 : 0;
    c->define_buffer = static_cast<char*>(std::calloc(kRows, static_cast<size_t>(width)));
    (columns.empty() ? head.next : columns.back()->next) = c;
    columns.push_back(c);
    return c;
  }
  void Set(ColumnDesc* c, int row, const std::string& value) {
    std::memcpy(c->define_buffer + static_cast<size_t>(row) * c->define_width, value.data(),
                value.size());
    c->returned_lengths[row] = static_cast<uint16_t>(value.size());
    c->indicators[row] = 0;
  }
  ~Table() {
    for (ColumnDesc* c : columns) {
      std::free(c->define_buffer);
      std::free(c);
    }
  }
};

void BuildTable(Table* table) {
  ColumnDesc* id = table->Add("ID", SQLT_NUM, 22, false);
  ColumnDesc* name = table->Add("CUSTOMER_NAME", SQLT_CHR, 40, true);
  ColumnDesc* city = table->Add("CITY", SQLT_CHR, 30, true);
  ColumnDesc* amount = table->Add("AMOUNT", SQLT_NUM, 13, false);
  ColumnDesc* created = table->Add("CREATED", SQLT_DAT, 19, true);
  ColumnDesc* note = table->Add("NOTE", SQLT_CHR, 120, true);
  const char* cities[] = {"Lisbon", "Osaka", "Cape Town", "Winnipeg", "Valparaiso"};
  for (int row = 0; row < kRows; ++row) {
    table->Set(id, row, std::to_string(100000 + row));
    table->Set(name, row, "Customer number " + std::to_string(row * 7919 % 100003));
    table->Set(city, row, cities[row % 5]);
    table->Set(amount, row,
               std::to_string(row * 37 % 100000) + "." + std::to_string(row % 90 + 10));
    table->Set(created, row, "2013-12-31 23:59:" + std::to_string(10 + row % 50));
    if (row % 9 == 0) {
      note->indicators[row] = -1;
    } else {
      std::string text = "Delivered to the back door, signed by \"J. Smith\" at reception";
      table->Set(note, row, row % 3 == 0 ? text : text.substr(0, 40));
    }
  }
}

void BM_EncodeCsvRows(benchmark::State& state) {
  UnloadHandle* job = static_cast<UnloadHandle*>(std::malloc(sizeof(UnloadHandle)));
  InitJobDefaults(job);
  job->escape = '"';
  job->quote[0] = '"';
  Table table;
  BuildTable(&table);
  OutputBuffer out;
  OutputBufferInit(&out, kOutputBufferBytes, job->crack);
  FieldEncoder encoder;
  InitFieldEncoder(&encoder, job, &out, &table.head, "");  // the engine's UTF-8
  int64_t bytes = 0;
  const int column_count = static_cast<int>(table.columns.size());
  for (auto _ : state) {
    for (int row = 0; row < kRows; ++row) {
      EncodeRow(&encoder, table.columns.data(), column_count, row);
      Put(&out, job->record, job->record_length);
    }
    bytes += out.fill;
    benchmark::DoNotOptimize(out.data);
    out.fill = 0;  // no stream: the bytes stay in memory
  }
  state.SetBytesProcessed(bytes);
  state.SetItemsProcessed(state.iterations() * kRows);
  OutputBufferRelease(&out);
  std::free(job);
}
BENCHMARK(BM_EncodeCsvRows);

}  // namespace
}  // namespace rowflume

BENCHMARK_MAIN();
