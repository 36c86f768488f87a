#include "run/job_run.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/columns.h"
#include "db/oracle_types.h"
#include "db/session.h"
#include "db/statement.h"
#include "output/control_file.h"
#include "output/lob_files.h"
#include "output/output_files.h"
#include "output/unload_loop.h"
#include "platform/platform.h"
#include "run/client_choice.h"
#include "run/job_checks.h"
#include "run/manifest_keeper.h"
#include "run/point_in_time.h"

namespace rowflume {
namespace {

// What a bare table name becomes: the query of the whole table.
constexpr char kWholeTable[] = "select * from ";
constexpr char kParquetSessionZone[] = "ALTER SESSION SET TIME_ZONE='+00:00'";

bool IsQueryTrailer(char c) {
  return IsAsciiSpace(c) || c == ';' || c == '/';
}

// Sends one statement; a failure is reported (by the statement routines) and otherwise ignored.
void SendSetting(DbSession* session, const char* text) {
  OCIStmt* statement = nullptr;
  ExecuteStatement(session, &statement, text);
}

void SendTwice(DbSession* session, const char* text) {
  SendSetting(session, text);
  SendSetting(session, text);
}

void ApplySessionSettings(DbSession* session, const UnloadHandle* job) {
  char text[kSettingBytes];
  // The formats the control file's masks name (db/oracle_types.h).
  std::snprintf(text, sizeof text, "ALTER SESSION SET NLS_DATE_FORMAT='%s'", kDateMask);
  SendSetting(session, text);
  std::snprintf(text, sizeof text, "ALTER SESSION SET NLS_TIMESTAMP_FORMAT='%s'", kTimestampMask);
  SendSetting(session, text);
  std::snprintf(text, sizeof text, "ALTER SESSION SET NLS_TIMESTAMP_TZ_FORMAT='%s'",
                kTimestampTzMask);
  SendSetting(session, text);
  // Numbers with a decimal point whatever the client's territory: a decimal comma would split a
  // value in two in comma-separated output and would not read back as one number in an INSERT
  // statement.
  SendSetting(session, "ALTER SESSION SET NLS_NUMERIC_CHARACTERS='.,'");
  if (job->read != 0) {
    std::snprintf(text, sizeof text, "ALTER SESSION SET DB_FILE_MULTIBLOCK_READ_COUNT=%d",
                  job->read);
    SendSetting(session, text);
  }
  if (job->hash != 0) {
    SendSetting(session, "ALTER SESSION SET WORKAREA_SIZE_POLICY=MANUAL");
    std::snprintf(text, sizeof text, "ALTER SESSION SET HASH_AREA_SIZE=%d", job->hash * 1048576);
    SendTwice(session, text);
    SendTwice(session, "ALTER SESSION SET \"_hash_multiblock_io_count\"=128");
  }
  if (job->serial != 0) SendSetting(session, "ALTER SESSION SET \"_serial_direct_read\"=TRUE");
  if (job->sort != 0) {
    SendSetting(session, "ALTER SESSION SET WORKAREA_SIZE_POLICY=MANUAL");
    std::snprintf(text, sizeof text, "ALTER SESSION SET SORT_AREA_SIZE=%d", job->sort * 1048576);
    SendTwice(session, text);
    std::snprintf(text, sizeof text, "ALTER SESSION SET SORT_AREA_RETAINED_SIZE=%d",
                  job->sort * 1048576);
    SendTwice(session, text);
    SendTwice(session, "ALTER SESSION SET \"_sort_multiblock_read_count\"=128");
  }
  if (job->trace != 0) {
    std::snprintf(text, sizeof text,
                  "ALTER SESSION SET EVENTS='10046 TRACE NAME CONTEXT FOREVER,LEVEL %d'",
                  job->trace);
    SendSetting(session, text);
  }
  // `alter`: every non-empty piece between semicolons outside quotes becomes one ALTER SESSION
  // statement. The job checks refused a piece too long for the statement; one is never sent cut.
  const char* piece = job->alter;
  while (*piece != '\0') {
    const char* end = AlterClauseEnd(piece);
    const size_t length = static_cast<size_t>(end - piece);
    if (length > 0) {
      int written =
          std::snprintf(text, sizeof text, "%s%.*s", kAlterPrefix, static_cast<int>(length), piece);
      if (written > 0 && written < static_cast<int>(sizeof text)) SendSetting(session, text);
    }
    if (*end == '\0') break;
    piece = end + 1;
  }
}

// Forms the query text and runs the job checks: 0, or kRunRefused after the message. The query
// comes first: a table name it gives may name the control file the checks look at.
int PrepareAndCheck(UnloadHandle* job, DbSession* session) {
  ResolveOutputFormat(job);
  const bool query_fits = PrepareQueryText(job);
  if (CheckJob(job, session) != 0) return kRunRefused;
  if (query_fits) return 0;
  SessionMessage(session, messages::kQueryNameTooLong);
  return kRunRefused;
}

// Closes the log and gives the run's result: messages the log refused went to standard error,
// but the run still did not do all it was asked, so a success becomes kRunWriteFailed.
int CloseLog(DbSession* session, OutputStream* log, const char* log_name, int result) {
  if (CloseStream(log) != 0) ++session->log_failures;
  session->messages = StderrStream();
  if (session->log_failures == 0) return result;
  SessionMessageFormat(session, messages::kLogLost, session->log_failures, log_name);
  return result == kRunOk ? kRunWriteFailed : result;
}

// Reading at the job's SCN: CURRENT is resolved on this session (a parallel run has resolved it
// before its pieces start), the SCN is reported, and the query reads at it: the piece texts of a
// parallel run carry the flashback clause already, one table read whole gets it after its name,
// and any other query runs under session-level flashback (*session_flashback), as the program
// cannot tell which tables it reads.
int PrepareScnRead(UnloadHandle* job, DbSession* session, bool* session_flashback) {
  if (IsCurrentScn(job->scn) && ResolveCurrentScn(session, job->scn, sizeof job->scn) != 0) {
    return kRunQueryFailed;
  }
  SessionMessageFormat(session, messages::kReadingAtScn, job->scn);
  char clause[48];
  FormatFlashbackClause(clause, sizeof clause, job->scn);
  const size_t clause_length = std::strlen(clause);
  for (const char* at = std::strstr(job->query, clause); at != nullptr;
       at = std::strstr(at + 1, clause)) {
    if (!IsAsciiDigit(at[clause_length])) return kRunOk;
  }
  const char* name = job->query + sizeof kWholeTable - 1;
  if (StartsWithIgnoringCase(job->query, kWholeTable) && IsBareTableName(name)) {
    if (AppendFlashbackClause(job->query, sizeof job->query, job->scn)) return kRunOk;
    SessionMessage(session, messages::kNoRoomForFlashback);
    return kRunQueryFailed;
  }
  if (EnableSessionFlashback(session, job->scn) != 0) return kRunQueryFailed;
  *session_flashback = true;
  return kRunOk;
}

// The database file of the embedded engine that a user string names (user/password@sqlite:PATH),
// or "": an output over it would destroy what the run reads.
std::string EmbeddedDatabase(const char* user_string) {
  static constexpr char kEngineScheme[] = "sqlite:";
  const UserStringParts parts = SplitUserString(user_string);
  if (parts.connect == nullptr || !StartsWithIgnoringCase(parts.connect, kEngineScheme)) return "";
  return parts.connect + sizeof kEngineScheme - 1;
}

bool HasLobFileColumns(const ColumnDesc* head) {
  for (const ColumnDesc* c = head->next; c != nullptr; c = c->next) {
    if (IsLobLocator(c->define_type)) return true;
  }
  return false;
}

// A failed run takes back the files it made: the data files it put in place (an appended file
// keeps its rows, a command has nothing to take back, and the file it stopped in was never put in
// place, so an older file of that name is left as it was) and the LOB files of its piece.
void RemoveFailedOutputs(DbSession* session, const UnloadHandle* job, RunOutputs* outputs) {
  int removed = outputs->unload.discarded;
  for (const ManifestFile& file : outputs->unload.written) {
    if (file.kind != kDataFile || file.appended) continue;
    if (RemoveRegularFile(file.name.c_str()) == 0) ++removed;
  }
  outputs->unload.written.clear();
  if (job->lob_set != kNoLobSet && !RemovePieceLobFiles(job->lob_set, job->lobdir, job->piece)) {
    SessionMessage(session, messages::kLobFilesLeft);
  }
  if (removed > 0) SessionMessageFormat(session, messages::kFailedOutputsRemoved, removed);
}

// Opens the job's log, when it names one, as the session's message stream: 0, or kRunOpenFailed
// after saying so on standard error, as without its log the run would lose every message it has.
// log_name (kExpandedNameBytes) receives the expanded name, "" for none.
int OpenRunLog(const UnloadHandle* job, DbSession* session, char* log_name,
               OutputStream** log_stream) {
  *log_stream = nullptr;
  if (job->log[0] == '\0') return kRunOk;
  *log_stream = OpenOutput(job->log, log_name, 0, job->piece);
  if (*log_stream == nullptr) {
    session->messages = StderrStream();
    SessionMessageFormat(session, messages::kCannotOpenLog, log_name);
    return kRunOpenFailed;
  }
  session->messages = *log_stream;
  return kRunOk;
}

// Lists the files no data file of the run may become: a later file of a split output could
// otherwise empty the log, the control file or the plan. Returns whether a loader control file
// goes with the run: with text unloads, once per unload (from its first piece).
bool ReserveRunFiles(const UnloadHandle* job, const char* log_name, RunOutputs* outputs) {
  UnloadOutputs& unload = outputs->unload;
  unload.reserved = outputs->reserved;
  unload.reserved.emplace_back(WrittenFile(log_name));
  unload.reserved.emplace_back(job->plan);
  unload.reserved.emplace_back(EmbeddedDatabase(job->user));
  if (job->manifest[0] != '\0') {
    unload.reserved.emplace_back(job->manifest);
    unload.reserved.emplace_back(std::string(job->manifest) + ".sha256");
  }
  const bool control_wanted =
      job->table[0] != '\0' && job->format == kTextFormat && job->piece == 1;
  if (control_wanted) {
    char control[kControlNameBytes];
    ControlFileName(job, control, sizeof control);
    unload.reserved.emplace_back(control);
  }
  return control_wanted;
}

// Binds the job's values to the prepared query and executes it: 0, or kRunQueryFailed. The bind
// handles belong to the statement, which frees them; a bind that fails leaves the query unrun, as
// executed it would read with a value missing.
int BindAndExecute(DbSession* session, OCIStmt* statement, const UnloadHandle* job) {
  OCIBind* binds[kMaxBinds] = {};
  for (int bind_idx = 0; bind_idx < job->bind_count && bind_idx < kMaxBinds; ++bind_idx) {
    if (BindByName(session, statement, &job->binds[bind_idx], &binds[bind_idx]) != 0) {
      return kRunQueryFailed;
    }
  }
  return StmtExecuteQuery(session, statement) == 0 ? kRunOk : kRunQueryFailed;
}

// Describes the executed query into the column list after head and unloads its rows; the outcome
// is left in session->status. The fetch size describing decides becomes the job's `array`, which
// the unload loop fetches by. A run that writes LOB files claims a set of LOB folders of its own
// (*own_set), unless the parallel run it is a piece of has claimed one for all its pieces.
void DescribeAndUnload(UnloadHandle* job, DbSession* session, OCIStmt* statement, ColumnDesc* head,
                       bool control_wanted, RunOutputs* outputs, bool* own_set) {
  uint32_t fetch_rows = job->array;
  const int described = DescribeColumns(session, statement, head, job->width, job, &fetch_rows);
  job->array = fetch_rows;
  if (described <= 0) {
    session->status = kRunDescribeFailed;
    return;
  }
  if (CheckFieldSeparator(job, described, session) != 0 ||
      CheckInsertNames(job, head, session) != 0) {
    session->status = kRunRefused;
    return;
  }
  if (control_wanted) {
    outputs->control = DescribeControlLayout(head, job);
    outputs->control_wanted = true;
  }
  if (job->field_length > 0 && job->field[0] == ' ') {
    outputs->record_length = FixedRecordLength(head, job);
  }
  if (job->data != 0 && job->lob_set == kNoLobSet && HasLobFileColumns(head)) {
    int set = kNoLobSet;
    if (ClaimLobSet(session, job->lobdir, &set) != 0) {
      session->status = kRunWriteFailed;
    } else {
      job->lob_set = set;
      *own_set = true;
    }
  }
  if (job->data != 0 && session->status == kRunOk) {
    UnloadRows(job, session, statement, head, &outputs->unload);
  }
}

// The run's statements on a logged-on session: the settings, presql, the read at the job's SCN,
// the query with its unload, then postsql; the outcome is left in session->status.
void RunStatements(UnloadHandle* job, DbSession* session, bool control_wanted, RunOutputs* outputs,
                   bool* own_set) {
  ApplySessionSettings(session, job);
  if (job->presql[0] != '\0') {
    OCIStmt* statement = nullptr;
    if (ExecuteStatement(session, &statement, job->presql) != 0) session->status = kRunPresqlFailed;
  }
  // Parquet timestamps with a local time zone are written as UTC instants; the session shows
  // them in UTC once this is the last zone set before the query (presql included).
  if (session->status == kRunOk && job->format == kParquetFormat) {
    OCIStmt* statement = nullptr;
    if (ExecuteStatement(session, &statement, kParquetSessionZone) != 0) {
      session->status = kRunQueryFailed;
    }
  }
  bool session_flashback = false;
  if (session->status == kRunOk && job->scn[0] != '\0') {
    session->status = PrepareScnRead(job, session, &session_flashback);
  }
  if (session->status != kRunOk) return;

  ColumnDesc head;
  std::memset(&head, 0, sizeof head);
  OCIStmt* statement = nullptr;
  if (StmtPrepare(session, &statement, job->query) != 0) {
    session->status = kRunQueryFailed;
  } else if (const int executed = BindAndExecute(session, statement, job); executed != kRunOk) {
    session->status = executed;
  } else {
    DescribeAndUnload(job, session, statement, &head, control_wanted, outputs, own_set);
  }
  FreeColumns(session, &head);
  StmtFree(session, statement);
  if (session_flashback) DisableSessionFlashback(session);
  if (session->status == kRunOk && job->postsql[0] != '\0') {
    OCIStmt* post = nullptr;
    if (ExecuteStatement(session, &post, job->postsql) != 0) session->status = kRunPostsqlFailed;
  }
}

}  // namespace

std::vector<std::string> LoadedFiles(const UnloadHandle* job,
                                     const std::vector<std::string>& files) {
  std::vector<std::string> loaded;
  for (const std::string& file : files) loaded.push_back(LoadedFileName(file));
  if (loaded.empty()) {
    char first[kExpandedNameBytes] = "-";
    if (std::strcmp(job->file, "-") != 0) ExpandOutputName(job->file, first, 1, job->piece);
    loaded.push_back(LoadedFileName(first));
  }
  return loaded;
}

bool PrepareQueryText(UnloadHandle* job) {
  char* query = job->query;
  size_t length = std::strlen(query);
  while (length > 0 && IsQueryTrailer(query[length - 1])) query[--length] = '\0';
  const char* start = query;
  while (*start != '\0' && IsAsciiSpace(*start)) ++start;
  if (IsQueryStatement(start)) return true;

  const size_t prefix_length = sizeof kWholeTable - 1;
  const size_t name_length = length - static_cast<size_t>(start - query);
  // A name cut to fit would name another table.
  if (prefix_length + name_length >= sizeof job->query) return false;
  std::memmove(query + prefix_length, start, name_length + 1);
  std::memcpy(query, kWholeTable, prefix_length);
  if (job->table[0] == '\0' && name_length <= 30) {
    std::memcpy(job->table, query + prefix_length, name_length + 1);
  }
  return true;
}

int RunJob(UnloadHandle* job, RunOutputs* outputs) {
  RunOutputs own_outputs;
  if (outputs == nullptr) outputs = &own_outputs;
  outputs->unload.files.clear();
  outputs->unload.written.clear();
  outputs->unload.discarded = 0;
  outputs->control_wanted = false;
  outputs->failure.clear();
  DbSession session;
  SessionInit(&session);
  if (job->callback != nullptr) {
    session.callback = job->callback;
    session.callback_context = job->callback_context != nullptr ? job->callback_context : &session;
  }
  const int refusal = PrepareAndCheck(job, &session);
  if (refusal != 0) {
    job->run_status = refusal;
    return refusal;
  }

  OutputStream* log_stream = nullptr;
  char log_name[kExpandedNameBytes] = "";
  if (OpenRunLog(job, &session, log_name, &log_stream) != kRunOk) {
    job->run_status = kRunOpenFailed;
    return kRunOpenFailed;
  }
  session.charset_id = job->charset_id;
  session.ncharset_id = job->ncharset_id;
  ManifestKeeper manifest(job);
  outputs->unload.digest = outputs->unload.digest || manifest.active();
  manifest.AddPiece(job->piece, "", "");

  int result = kRunOk;
  if (!manifest.Start(&session)) {
    result = kRunWriteFailed;
  } else if (LogonChosenClient(&session, job->user) != 0) {
    result = kRunLogonFailed;
  } else {
    session.status = kRunOk;
    const bool control_wanted = ReserveRunFiles(job, log_name, outputs);
    const int32_t given_set = job->lob_set;
    bool own_set = false;
    manifest.PieceStarted(job->piece);
    if (manifest.active()) {
      outputs->unload.file_noted = [&manifest, job](const ManifestFile& file) {
        manifest.FileNoted(job->piece, file);
      };
    }
    RunStatements(job, &session, control_wanted, outputs, &own_set);
    if (manifest.active()) outputs->unload.file_noted = nullptr;
    manifest.SetRead(job, job->query, outputs->record_length);
    manifest.SetLobSet(job->lob_set, job->lobdir);

    result = session.status;
    if (result != kRunOk) {
      RemoveFailedOutputs(&session, job, outputs);
      outputs->failure = FailureText(result, &session);
    }
    manifest.PieceEnded(job->piece, result, *outputs);
    if (result == kRunOk && outputs->control_wanted && !outputs->control_by_caller) {
      ManifestFile control;
      if (WriteControlFile(outputs->control, job, LoadedFiles(job, outputs->unload.files),
                           &control)) {
        manifest.AddControlFile(control);
      }
    }
    if (own_set) ReleaseLobSet(job->lob_set, job->lobdir);
    job->lob_set = given_set;
  }
  result = manifest.Finish(result, &session);
  Logoff(&session);
  if (log_stream != nullptr) result = CloseLog(&session, log_stream, log_name, result);
  job->run_status = result;
  return result;
}

}  // namespace rowflume
