#include "output/unload_loop.h"

#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "common/messages.h"
#include "db/statement.h"
#include "output/escaping.h"
#include "output/field_encoding.h"
#include "output/insert_text.h"
#include "output/lob_files.h"
#include "output/output_buffer.h"
#include "output/output_files.h"
#include "output/parquet_rows.h"
#include "platform/platform.h"

namespace rowflume {

namespace {

// Room checked for before a row: `rowpre`, or the ",\n(" that opens a MySQL tuple, with slack.
constexpr int kRowOpenMargin = 10;
// Room checked for after a row: `rowsuf` and `record`, or the ")", `exec` and line feed that
// close an INSERT tuple, with slack.
constexpr int kRowCloseMargin = 16;

// The state of one call of the loop; nothing of it survives the call.
struct UnloadRun {
  const UnloadHandle* job;
  DbSession* session;
  OCIStmt* statement;
  UnloadOutputs* outputs;  // the caller's, or none
  OutputBuffer out;
  FieldEncoder encoder;
  ColumnDesc* columns[kMaxColumns];
  int column_count;
  uint64_t row_count;       // rows completed in the current output file
  uint64_t job_rows;        // rows completed by the run over all its files: names LOB files
  uint64_t file_first_row;  // the number, from 1, of the open file's first row
  int sequence;             // file sequence number, from 1
  double size_threshold;    // MiB produced after which the next row end switches files
  bool stdout_mode;
  bool fixed_layout;
  bool file_pending;  // the file before was closed; the next row opens the next one
  bool headed;        // the open file wants a header line: not an appended file with rows
  char expanded[kExpandedNameBytes];
  std::unordered_set<std::string> opened;  // the files opened so far, lexically normal
  LobFileSink lob_files;                   // LOB values written to files of their own
  // INSERT head and MySQL duplicate-key tail, built once per run; sized for the longest lists.
  char insert_head[kInsertHeadBytes];
  int insert_head_length;
  char duplicate_tail[kDuplicateTailBytes];
  int duplicate_tail_length;  // 0 unless MySQL statements with `update`
  bool statement_open;        // a MySQL statement has its head written and awaits its tail
  bool first_in_statement;    // the next MySQL tuple is the first of its statement
  bool parquet_mode;          // the rows go into Parquet files, not text
  ParquetRows parquet;        // their schema and the open file's writer
};

void ReportWriteFailure(UnloadRun* run) {
  SessionMessageFormat(run->session, messages::kCannotWriteFile,
                       run->stdout_mode ? messages::kStandardOutput : run->expanded);
}

// Ends the run on a failure: no further writes or messages, the file closed (a plain file never
// put in place), the buffer freed.
void Stop(UnloadRun* run, int status) {
  DiscardParquetFile(&run->parquet);
  if (DiscardStream(run->out.stream) && run->outputs != nullptr) run->outputs->discarded += 1;
  DigestWorkerTake(run->out.digest);  // the digest of a file never put in place
  run->out.stream = nullptr;
  OutputBufferRelease(&run->out);
  run->session->status = status;
}

// The file an expanded name writes, as a key of UnloadRun::opened; empty for a command.
std::string WrittenFileKey(const char* expanded) {
  if (expanded[0] == '-') return std::string();
  return std::filesystem::path(WrittenFile(expanded)).lexically_normal().string();
}

// The earlier output or reserved file the next one would be, or null. An appended file is
// written on, never emptied, so only a file that would be emptied or a reserved one counts.
const char* ReplacedFile(UnloadRun* run, const std::string& key) {
  if (key.empty()) return nullptr;
  if (run->outputs != nullptr) {
    for (const std::string& reserved : run->outputs->reserved) {
      if (reserved.empty()) continue;
      if (std::filesystem::path(reserved).lexically_normal().string() == key ||
          SameExistingFile(reserved.c_str(), key.c_str())) {
        return reserved.c_str();
      }
    }
  }
  if (run->expanded[0] != '+' && run->opened.count(key) > 0) return run->expanded;
  return nullptr;
}

bool OpenNext(UnloadRun* run) {
  if (!ExpandOutputName(run->job->file, run->expanded, run->sequence, run->job->piece)) {
    ReportOpenFailure(run->session, run->expanded, OpenFailure::kNameTooLong);
    return false;
  }
  const std::string key = WrittenFileKey(run->expanded);
  if (const char* replaced = ReplacedFile(run, key)) {
    SessionMessageFormat(run->session, messages::kWouldReplace, run->expanded, replaced);
    return false;
  }
  // A header goes on top of a file's rows only: appended to a file that has some, it would
  // stand between them and read as a row.
  run->headed = !(run->expanded[0] == '+' && FileBytes(run->expanded + 1) > 0);
  OpenFailure failure = OpenFailure::kNone;
  run->out.stream = OpenOutput(run->job->file, run->expanded, run->sequence, run->job->piece,
                               &failure, OpenMode::kReplaceOnClose);
  if (run->out.stream == nullptr) {
    ReportOpenFailure(run->session, run->expanded, failure);
    return false;
  }
  run->file_first_row = run->job_rows + 1;
  if (!key.empty()) run->opened.insert(key);
  if (run->parquet_mode && !StartParquetFile(&run->parquet, &run->out)) {
    SessionMessageFormat(run->session, messages::kParquetWriter, run->expanded);
    return false;
  }
  if (run->outputs != nullptr) {
    run->outputs->files.emplace_back(run->expanded);
    if (run->outputs->file_noted && run->expanded[0] != '-') {
      ManifestFile opened;
      opened.name = WrittenFile(run->expanded);
      opened.kind = kDataFile;
      opened.piece = run->job->piece;
      opened.whole = false;
      opened.appended = run->expanded[0] == '+';
      run->outputs->file_noted(opened);
    }
  }
  return true;
}

void PutHeader(UnloadRun* run) {
  const UnloadHandle* job = run->job;
  OutputBuffer* out = &run->out;
  Put(out, job->rowpre, job->rowpre_length);
  for (int k = 0; k < run->column_count; ++k) {
    if (k > 0) Put(out, job->field, job->field_length);
    EncodeHeaderName(&run->encoder, job->prehead, job->prehead_length, run->columns[k]->name,
                     static_cast<int>(run->columns[k]->name_length));
  }
  Put(out, job->rowsuf, job->rowsuf_length);
  Put(out, job->record, job->record_length);
}

// Opened by the first row of a statement, so that a statement never ends a file without a row.
void OpenMySqlStatement(UnloadRun* run) {
  FlushIfNeeded(&run->out, run->insert_head_length);
  Put(&run->out, run->insert_head, run->insert_head_length);
  run->statement_open = true;
  run->first_in_statement = true;
}

void CloseMySqlStatement(UnloadRun* run) {
  const UnloadHandle* job = run->job;
  FlushIfNeeded(&run->out, job->exec_length + run->duplicate_tail_length + 2);
  Put(&run->out, run->duplicate_tail, run->duplicate_tail_length);
  Put(&run->out, job->exec, job->exec_length);
  PutByte(&run->out, '\n');
  run->statement_open = false;
}

void AssembleRow(UnloadRun* run, int row_idx) {
  const UnloadHandle* job = run->job;
  OutputBuffer* out = &run->out;
  if (job->format == kMySqlFormat && !run->statement_open) OpenMySqlStatement(run);
  if (job->format == kOracleFormat) {
    FlushIfNeeded(out, run->insert_head_length);
    Put(out, run->insert_head, run->insert_head_length);
  }
  FlushIfNeeded(out, job->rowpre_length + kRowOpenMargin);
  if (job->format == kMySqlFormat) {
    if (!run->first_in_statement) Put(out, ",\n", 2);
    run->first_in_statement = false;
    PutByte(out, '(');
  } else if (job->format == kOracleFormat) {
    PutByte(out, '(');
  } else {
    Put(out, job->rowpre, job->rowpre_length);
  }
  EncodeRow(&run->encoder, run->columns, run->column_count, row_idx);
  FlushIfNeeded(out, job->record_length + kRowCloseMargin + job->rowsuf_length + job->exec_length);
  if (job->format == kMySqlFormat) {
    PutByte(out, ')');
  } else if (job->format == kOracleFormat) {
    PutByte(out, ')');
    Put(out, job->exec, job->exec_length);
    PutByte(out, '\n');
  } else {
    Put(out, job->rowsuf, job->rowsuf_length);
    Put(out, job->record, job->record_length);
  }
}

// Closes the open output (a plain file is put in place under its name) and lists it among the
// outputs written whole; 0, or the close's failure.
int CloseOutput(UnloadRun* run) {
  StreamTally tally;
  const int closed = CloseStream(run->out.stream, &tally);
  run->out.stream = nullptr;
  if (closed != 0 || run->outputs == nullptr) return closed;
  ManifestFile file;
  const char* expanded = run->expanded;
  file.kind = run->stdout_mode ? kStandardOutput : expanded[0] == '-' ? kCommandOutput : kDataFile;
  file.name = run->stdout_mode                           ? "-"
              : expanded[0] == '+' || expanded[0] == '-' ? expanded + 1
                                                         : expanded;
  file.piece = run->job->piece;
  file.rows = run->row_count;
  file.first_row = run->row_count > 0 ? run->file_first_row : 0;
  file.last_row = run->row_count > 0 ? run->file_first_row + run->row_count - 1 : 0;
  TakeTally(tally, &file);
  file.sha256 = DigestWorkerTake(run->out.digest);
  file.appended = expanded[0] == '+' && !run->stdout_mode;
  // What an appended file holds is more than this run wrote: its digest is the whole file's.
  if (file.appended && run->outputs->digest && !HashFile(file.name, &file.bytes, &file.sha256)) {
    file.sha256.clear();
  }
  run->outputs->written.push_back(std::move(file));
  if (run->outputs->file_noted) run->outputs->file_noted(run->outputs->written.back());
  return 0;
}

// Writes out what the open file still has to receive: a Parquet file's last row group and
// footer, and the buffer. False when the run stopped.
bool FinishFileData(UnloadRun* run) {
  if (run->parquet_mode && !FinishParquetFile(&run->parquet)) {
    SessionMessageFormat(run->session, messages::kParquetWriter, run->expanded);
    Stop(run, kRunWriteFailed);
    return false;
  }
  if (!WriteAllBuffered(&run->out)) {
    ReportWriteFailure(run);
    Stop(run, kRunWriteFailed);
    return false;
  }
  return true;
}

// Ends the current file; the next one is opened by the row that goes into it (OpenPending), so
// that a split output never ends with a file of no rows. False when the run stopped.
bool SwitchFile(UnloadRun* run) {
  const UnloadHandle* job = run->job;
  if (job->format == kMySqlFormat && run->statement_open) CloseMySqlStatement(run);
  if (!FinishFileData(run)) return false;
  ReportFileClosed(run->session, run->expanded, run->row_count, run->out.mb_written);
  if (CloseOutput(run) != 0) {
    SessionMessageFormat(run->session, messages::kCannotCloseFile, run->expanded);
    Stop(run, kRunWriteFailed);
    return false;
  }
  run->sequence += 1;
  run->size_threshold = static_cast<double>(job->size) * run->sequence;
  run->row_count = 0;
  run->file_pending = true;
  return true;
}

// Opens the file a row is about to go into, after a switch. False when the run stopped.
bool OpenPending(UnloadRun* run) {
  if (!run->file_pending) return true;
  run->file_pending = false;
  if (!OpenNext(run)) {
    Stop(run, kRunOpenFailed);
    return false;
  }
  if (run->job->head && !run->fixed_layout && run->headed && !run->parquet_mode) PutHeader(run);
  return true;
}

// MiB the run has produced: written, still in the buffer, and held for a Parquet row group.
double MbProduced(const UnloadRun& run) {
  const double held = static_cast<double>(ParquetPendingBytes(&run.parquet));
  return run.out.mb_written + (run.out.fill + held) / 1048576.0;
}

// Counts a closed row; reports progress and switches files. False when the run stopped.
bool CountRow(UnloadRun* run) {
  const UnloadHandle* job = run->job;
  run->row_count += 1;
  if (run->stdout_mode) return true;
  uint32_t rows = job->rows > 0 ? job->rows : 1;
  bool at_mark = run->row_count % rows == 0;
  bool over_size = MbProduced(*run) > run->size_threshold;
  if (!at_mark && !over_size) return true;
  if (at_mark) ReportProgress(run->session, run->row_count, run->out.mb_written);
  if ((job->batch && at_mark) || over_size) return SwitchFile(run);
  return true;
}

bool StartRun(UnloadRun* run, ColumnDesc* head, int buffer_bytes) {
  const UnloadHandle* job = run->job;
  if (!OutputBufferInit(&run->out, buffer_bytes, job->crack)) {
    SessionMessage(run->session, messages::kNoOutputBuffer);
    Stop(run, kRunWriteFailed);
    return false;
  }
  if (run->outputs != nullptr && run->outputs->digest) {
    run->out.digest = StartDigestWorker(static_cast<size_t>(run->out.capacity));
    if (run->out.digest == nullptr) {
      SessionMessage(run->session, messages::kNoOutputBuffer);
      Stop(run, kRunWriteFailed);
      return false;
    }
  }
  run->row_count = 0;
  run->job_rows = 0;
  run->sequence = 1;
  run->size_threshold = static_cast<double>(job->size);
  run->fixed_layout = job->field_length > 0 && job->field[0] == ' ';
  run->file_pending = false;
  run->headed = true;  // standard output; a file's OpenNext decides for it
  // Decided once per run: whether text in the client's character set keeps double-byte pairs.
  InitFieldEncoder(&run->encoder, job, &run->out, head,
                   ClientCharsetName(job->charset, EnvironmentValue("NLS_LANG")));
  InitLobFileSink(&run->lob_files, run->session, job->lobdir, job->lob_set, job->piece);
  if (run->outputs != nullptr) {
    run->lob_files.written = &run->outputs->written;
    run->lob_files.digest = run->outputs->digest;
  }
  run->encoder.lob_writer = WriteLobValue;
  run->encoder.lob_context = &run->lob_files;
  run->insert_head_length =
      BuildInsertHead(head, run->insert_head, kInsertHeadBytes, job->table, job->format, job->hint);
  run->duplicate_tail[0] = '\0';
  run->duplicate_tail_length = 0;
  if (job->format == kMySqlFormat && job->update) {
    run->duplicate_tail_length = BuildDuplicateUpdate(head, job->unique, sizeof job->unique,
                                                      run->duplicate_tail, kDuplicateTailBytes);
  }
  run->statement_open = false;
  run->first_in_statement = true;
  run->column_count = 0;
  for (ColumnDesc* c = head->next; c != nullptr && run->column_count < kMaxColumns; c = c->next) {
    run->columns[run->column_count++] = c;
  }
  run->parquet_mode = job->format == kParquetFormat;
  if (run->parquet_mode && !PlanParquetRows(&run->parquet, run->columns, run->column_count, job)) {
    SessionMessageFormat(run->session, messages::kParquetCodec, job->compress);
    Stop(run, kRunRefused);
    return false;
  }
  run->expanded[0] = '\0';
  run->stdout_mode = job->file[0] == '-' && job->file[1] == '\0';
  if (run->stdout_mode) {
    run->out.stream = StdoutStream();
    if (run->out.stream == nullptr) {
      ReportWriteFailure(run);
      Stop(run, kRunWriteFailed);
      return false;
    }
    run->file_first_row = 1;
  } else if (!OpenNext(run)) {
    Stop(run, kRunOpenFailed);
    return false;
  }
  if (job->head && !run->fixed_layout && run->headed && !run->parquet_mode) PutHeader(run);
  if (!run->stdout_mode) ReportProgress(run->session, 0, 0.0);
  return true;
}

// Rows delivered by a fetch that did not end with OCI_SUCCESS, as the client counts those of
// the last fetch: the cumulative row count would wrap after 2^32 - 1 rows and lose the last.
// False when the count cannot be read: the rows of that fetch are then unknown, and taking none
// would drop them in silence.
bool RowsOfShortFetch(UnloadRun* run, uint32_t array, uint32_t* rows_out) {
  ub4 rows = 0;
  if (LastFetchRows(run->session, run->statement, &rows) != OCI_SUCCESS) {
    if (run->session->last_error_code == 0) SessionMessage(run->session, messages::kNoRowCount);
    *rows_out = 0;
    return false;
  }
  *rows_out = rows < array ? rows : array;
  return true;
}

void FinishRun(UnloadRun* run) {
  const UnloadHandle* job = run->job;
  if (run->file_pending) {
    // The last row ended the last file: nothing is open, and no empty file is made.
    OutputBufferRelease(&run->out);
    return;
  }
  if (!FinishFileData(run)) return;
  if (!run->stdout_mode) {
    uint32_t rows = job->rows > 0 ? job->rows : 1;
    if (run->row_count % rows != 0) {
      ReportProgress(run->session, run->row_count, run->out.mb_written);
    }
    ReportFileClosed(run->session, run->expanded, run->row_count, run->out.mb_written);
  }
  if (CloseOutput(run) != 0 && !run->stdout_mode) {
    SessionMessageFormat(run->session, messages::kCannotCloseFile, run->expanded);
    Stop(run, kRunWriteFailed);
    return;
  }
  OutputBufferRelease(&run->out);
}

}  // namespace

bool IsToleratedError(const UnloadHandle* job, int code) {
  int count = job->error_count < kMaxErrorCodes ? job->error_count : kMaxErrorCodes;
  for (int k = 0; k < count; ++k) {
    if (job->error_codes[k] == code) return true;
  }
  return false;
}

void UnloadRows(const UnloadHandle* job, DbSession* session, OCIStmt* statement, ColumnDesc* head,
                UnloadOutputs* outputs) {
  UnloadRowsWithBuffer(job, session, statement, head, kOutputBufferBytes, outputs);
}

namespace {

// Stops the run on a failed write of the buffer; true while the run goes on.
bool WriteOk(UnloadRun* run) {
  if (!run->out.failed) return true;
  ReportWriteFailure(run);
  Stop(run, kRunWriteFailed);
  return false;
}

// Adds a row to the open Parquet file; a value that is not of its column's type stops the run
// at that row, as a value cut to a fixed width does. True while the run goes on.
bool AddParquetRowOrStop(UnloadRun* run, int row_idx) {
  ParquetRows* parquet = &run->parquet;
  if (AddParquetRow(parquet, run->columns, run->column_count, row_idx, &run->encoder)) return true;
  if (parquet->bad_position < 0) {
    SessionMessageFormat(run->session, messages::kParquetWriter, run->expanded);
  } else {
    const auto position = static_cast<size_t>(parquet->bad_position);
    SessionMessageFormat(run->session, messages::kParquetValue, run->columns[position]->name,
                         static_cast<int>(parquet->bad_value.size()), parquet->bad_value.c_str(),
                         parquet->plans[position].title,
                         static_cast<unsigned long long>(run->job_rows + 1));
  }
  Stop(run, kRunWriteFailed);
  return false;
}

// Stops the run at the first row whose fixed-width record had a value cut to its field, or whose
// INSERT statement could not carry a value as fetched, as a failed write does (the buffer
// dropped, the file left unfinished); true while nothing was cut or refused.
bool NothingCut(UnloadRun* run) {
  const FieldEncoder& encoder = run->encoder;
  if (encoder.refused_column != nullptr) {
    if (encoder.refused_bytes < 0) {
      SessionMessageFormat(run->session, messages::kDatetimeForInsert, encoder.refused_column);
    } else {
      SessionMessageFormat(run->session, messages::kTooLongForOracleInsert, encoder.refused_column,
                           static_cast<long long>(encoder.refused_bytes),
                           static_cast<int>(kOracleHexBytes));
    }
    Stop(run, kRunWriteFailed);
    return false;
  }
  if (run->encoder.cut_fields == 0) return true;
  SessionMessageFormat(run->session, messages::kLongerThanFixedWidth, run->encoder.cut_column,
                       run->encoder.cut_width);
  Stop(run, kRunWriteFailed);
  return false;
}

// Fetches arrays of rows to the end of the data and writes them. False when the run stopped,
// its status set.
bool UnloadAllRows(UnloadRun* run) {
  const UnloadHandle* job = run->job;
  DbSession* session = run->session;
  uint32_t array = job->array;
  if (array < 1) array = 1;
  if (array > kMaxFetchRows) array = kMaxFetchRows;
  int empty_tolerated = 0;
  for (;;) {
    bool keep_going = true;
    uint32_t got = array;
    sword status = FetchRows(session, run->statement, array);
    // A full array (OCI_SUCCESS) holds every row asked for; rows with a warning (already
    // reported) are rows too: all that were asked for, or the last.
    if (status == OCI_SUCCESS_WITH_INFO && !RowsOfShortFetch(run, array, &got)) {
      Stop(run, kRunFetchFailed);
      return false;
    }
    if (status != OCI_SUCCESS && status != OCI_SUCCESS_WITH_INFO) {
      if (status != OCI_NO_DATA) {
        if (!IsToleratedError(job, session->last_error_code)) {
          if (session->last_error_code == kTruncatedFetch && RowsOfShortFetch(run, array, &got))
            ReportTruncatedColumns(session, run->columns, run->column_count, got);
          Stop(run, kRunFetchFailed);
          return false;
        }
        keep_going = false;
      }
      if (!RowsOfShortFetch(run, array, &got)) {
        Stop(run, kRunFetchFailed);
        return false;
      }
      if (!keep_going) {
        empty_tolerated = got == 0 ? empty_tolerated + 1 : 0;
        if (empty_tolerated >= kMaxEmptyToleratedFetches) {
          SessionMessageFormat(session, messages::kFetchErrorRepeated, kMaxEmptyToleratedFetches);
          Stop(run, kRunFetchFailed);
          return false;
        }
      }
    }
    for (uint32_t row_idx = 0; row_idx < got; ++row_idx) {
      if (!OpenPending(run)) return false;
      run->encoder.row_number = run->job_rows;
      if (run->parquet_mode) {
        if (!AddParquetRowOrStop(run, static_cast<int>(row_idx))) return false;
      } else {
        AssembleRow(run, static_cast<int>(row_idx));
        if (!NothingCut(run)) return false;
      }
      run->job_rows += 1;
      if (!WriteOk(run) || !CountRow(run)) return false;
    }
    if (got > 0 && job->format == kMySqlFormat && run->statement_open) CloseMySqlStatement(run);
    if (!WriteOk(run)) return false;
    if (got < array && keep_going) return true;
  }
}

}  // namespace

void UnloadRowsWithBuffer(const UnloadHandle* job, DbSession* session, OCIStmt* statement,
                          ColumnDesc* head, int buffer_bytes, UnloadOutputs* outputs) {
  std::unique_ptr<UnloadRun> run(new (std::nothrow) UnloadRun{});
  if (run == nullptr) {
    SessionMessage(session, messages::kNoOutputBuffer);
    session->status = kRunWriteFailed;
    return;
  }
  run->job = job;
  run->session = session;
  run->statement = statement;
  run->outputs = outputs;
  if (StartRun(run.get(), head, buffer_bytes) && UnloadAllRows(run.get())) FinishRun(run.get());
  StopDigestWorker(run->out.digest);
  run->out.digest = nullptr;
  // A LOB value that could not be written (each one already reported) fails the run once all
  // rows are out, so that nothing else of the unload is lost on its account.
  if (run->lob_files.failures > 0 && session->status == kRunOk) session->status = kRunWriteFailed;
}

}  // namespace rowflume
