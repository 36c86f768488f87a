#include "job/job_record.h"

#include <cstdio>
#include <cstring>

#include "common/ascii.h"

namespace rowflume {

BindEntry MakeBindEntry(const char* name, const char* value) {
  BindEntry entry;
  std::memset(&entry, 0, sizeof entry);
  std::snprintf(entry.name, sizeof entry.name, "%s", name);
  entry.name_length = static_cast<int32_t>(std::strlen(entry.name));
  std::snprintf(entry.value, sizeof entry.value, "%s", value);
  entry.value_length = static_cast<int32_t>(std::strlen(entry.value));
  return entry;
}

UnloadHandle* InitJobDefaults(UnloadHandle* job) {
  std::memset(job, 0, sizeof(*job));
  std::strcpy(job->mode, "INSERT");
  job->field[0] = ',';
  job->field_length = 1;
  job->record[0] = '\n';
  job->record_length = 1;
  std::strcpy(job->file, "tarndata.%p.txt");
  job->exec[0] = ';';
  job->exec_length = 1;
  job->escape = ' ';
  job->rows = 1000000;
  job->data = 1;
  job->buffer = 2097152;
  job->size = 0x0FFFFFFF;
  job->lobdir = 8;
  job->lob_set = kNoLobSet;
  job->degree = 1;
  job->retry = 3;
  job->sleep = 3;
  job->array = 1000;
  job->long_limit = 32768;
  job->rowgroup = 64 << 20;
  job->run_status = 1;
  job->piece = 1;
  return job;
}

void ResolveOutputFormat(UnloadHandle* job) {
  static constexpr char kSuffix[] = ".parquet";
  constexpr size_t kSuffixLength = sizeof kSuffix - 1;
  const size_t length = strnlen(job->file, sizeof job->file);
  const bool named =
      length > kSuffixLength && EqualIgnoringCase(job->file + length - kSuffixLength, kSuffix);
  if (named && job->format == kTextFormat && job->layout[0] == '\0') job->format = kParquetFormat;
  if (job->format != kParquetFormat) return;
  if (job->charset[0] == '\0') std::strcpy(job->charset, "AL32UTF8");
  if (job->ncharset[0] == '\0') std::strcpy(job->ncharset, "AL32UTF8");
}

}  // namespace rowflume
