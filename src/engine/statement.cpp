// Statements of the embedded engine: prepare, bind, execute and describe. A query is run up to
// its first row at execute, which describes its expressions; fetching is in fetch.cpp.
#include <cstring>
#include <string_view>

#include "common/ascii.h"
#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/fetch_values.h"
#include "engine/flashback.h"
#include "engine/handles.h"
#include "engine/nls_numeric.h"
#if defined(ROWFLUME_FAULT_HOOK)
#include "engine/injected_fault.h"
#endif
#include "engine/sql_rewrite.h"
#include "engine/sql_scanner.h"
#include "platform/platform.h"

namespace rowflume::engine {
namespace {

// Where a statement's cumulative row count starts: 0, or for tests the value of the environment
// variable ROWFLUME_ENGINE_ROW_COUNT_START (decimal, below 2^32), so that the count wraps past
// 2^32 - 1 as a real client's does after that many rows, without fetching them.
ub4 RowCountStart() {
  const char* text = EnvironmentValue("ROWFLUME_ENGINE_ROW_COUNT_START");
  if (text == nullptr) return 0;
  uint64_t value = 0;
  for (const char* pos = text; *pos != '\0'; ++pos) {
    if (!IsAsciiDigit(*pos)) return 0;
    value = value * 10 + static_cast<uint64_t>(*pos - '0');
    if (value > 0xFFFFFFFFu) return 0;
  }
  return static_cast<ub4>(value);
}

void ResetResult(Stmt* stmt) {
  stmt->Finalize();
  stmt->executed = false;
  stmt->is_query = false;
  stmt->row_pending = false;
  stmt->finished = false;
  stmt->plan_ready = false;
  stmt->columns.clear();
  stmt->names.clear();
  stmt->row_count = RowCountStart();
  stmt->rows_fetched = 0;
  stmt->null_in_aggregate = false;
}

sword ApplyBinds(Stmt* stmt, Error* error) {
  sqlite3_stmt* st = stmt->st;
  int count = sqlite3_bind_parameter_count(st);
  std::vector<bool> bound(static_cast<size_t>(count) + 1, false);
  for (Bind* bind : stmt->binds) {
    if (bind == nullptr) continue;
    bool matched = false;
    for (int idx = 1; idx <= count; ++idx) {
      const char* name = sqlite3_bind_parameter_name(st, idx);
      // Oracle names are matched without regard to case; SQLite keeps :a and :A apart, so every
      // spelling of the name gets the value.
      if (name == nullptr || name[0] == '?' || !EqualIgnoringCase(name + 1, bind->name)) {
        continue;
      }
      matched = true;
      bound[static_cast<size_t>(idx)] = true;
      int rc = SQLITE_OK;
      const char* value = static_cast<const char*>(bind->value);
      if ((bind->indicator && *bind->indicator == -1) || value == nullptr) {
        rc = sqlite3_bind_null(st, idx);
        continue;
      }
      switch (bind->dty) {
        case SQLT_CHR:
        case SQLT_AFC:
        case SQLT_LNG: {
          size_t len = bind->length ? *bind->length : static_cast<size_t>(bind->value_sz);
          rc = sqlite3_bind_text(st, idx, value, static_cast<int>(len), SQLITE_TRANSIENT);
          break;
        }
        case SQLT_STR: {
          size_t len = strnlen(value, static_cast<size_t>(bind->value_sz));
          rc = sqlite3_bind_text(st, idx, value, static_cast<int>(len), SQLITE_TRANSIENT);
          break;
        }
        case SQLT_BIN:
        case SQLT_LBI: {
          size_t len = bind->length ? *bind->length : static_cast<size_t>(bind->value_sz);
          rc = sqlite3_bind_blob(st, idx, value, static_cast<int>(len), SQLITE_TRANSIENT);
          break;
        }
        case SQLT_INT:
        case SQLT_UIN: {
          bool is_signed = bind->dty == SQLT_INT;
          int64_t number = 0;
          switch (bind->value_sz) {
            case 1:
              number = is_signed ? int64_t(*reinterpret_cast<const int8_t*>(value))
                                 : int64_t(*reinterpret_cast<const uint8_t*>(value));
              break;
            case 2: {
              uint16_t raw;
              std::memcpy(&raw, value, 2);
              number = is_signed ? int64_t(int16_t(raw)) : int64_t(raw);
              break;
            }
            case 4: {
              uint32_t raw;
              std::memcpy(&raw, value, 4);
              number = is_signed ? int64_t(int32_t(raw)) : int64_t(raw);
              break;
            }
            case 8:
              std::memcpy(&number, value, 8);
              break;
            default:
              return Fail(error, ora::kUnsupportedDatatype);
          }
          rc = sqlite3_bind_int64(st, idx, number);
          break;
        }
        default:
          return Fail(error, ora::kUnsupportedDatatype);
      }
      if (rc != SQLITE_OK) {
        return FailSqlite(error, stmt->session, rc, sqlite3_errmsg(sqlite3_db_handle(st)), nullptr);
      }
    }
    if (!matched) return Fail(error, ora::kIllegalVariableName);
  }
  for (int idx = 1; idx <= count; ++idx) {
    if (!bound[static_cast<size_t>(idx)]) return Fail(error, ora::kNotAllVariablesBound);
  }
  return OCI_SUCCESS;
}

// A column named after its expression shows it as written: without the NULL counting wrapped
// around aggregate arguments (sql_rewrite.cpp), and without the parting written before it.
std::string WithoutNullNotes(std::string name) {
  constexpr std::string_view kNote = "rowflume_null_note(";
  for (size_t at = name.find(kNote); at != std::string::npos; at = name.find(kNote, at)) {
    name.erase(at, kNote.size());
    if (at >= kWordParting.size() &&
        std::string_view(name).substr(at - kWordParting.size(), kWordParting.size()) ==
            kWordParting) {
      at -= kWordParting.size();
      name.erase(at, kWordParting.size());
    }
    int depth = 1;
    for (size_t pos = at; pos < name.size(); ++pos) {
      if (name[pos] == '(') ++depth;
      if (name[pos] == ')' && --depth == 0) {
        name.erase(pos, 1);
        break;
      }
    }
  }
  return name;
}

void Describe(Stmt* stmt) {
  sqlite3_stmt* st = stmt->st;
  int count = sqlite3_column_count(st);
  stmt->columns.resize(static_cast<size_t>(count));
  stmt->names.resize(static_cast<size_t>(count));
  while (stmt->params.size() < static_cast<size_t>(count)) {
    stmt->params.push_back(std::make_unique<Param>(stmt->env));
  }
  std::vector<bool> rowid(static_cast<size_t>(count), false);
  for (int front : stmt->plan.rowid_from_front) {
    if (front < count) rowid[static_cast<size_t>(front)] = true;
  }
  for (int back : stmt->plan.rowid_from_back) {
    if (back <= count) rowid[static_cast<size_t>(count - back)] = true;
  }
  for (int col = 0; col < count; ++col) {
    ColumnType type;
    const char* declared = sqlite3_column_decltype(st, col);
    if (declared == nullptr && rowid[static_cast<size_t>(col)]) {
      type = RowidType();
    } else if (!TypeFromDeclared(declared, &type)) {
      type = TypeFromStorage(stmt->row_pending ? sqlite3_column_type(st, col) : 0);
    }
    stmt->columns[static_cast<size_t>(col)] = type;
    // Unquoted Oracle identifiers are shown upper-cased; an alias written in double quotes
    // keeps its letters as written, looked for as the statement spells it (a quote inside the
    // name doubled).
    const char* name = sqlite3_column_name(st, col);
    std::string upper = WithoutNullNotes(name ? name : "");
    if (stmt->plan.sql.find(Quoted(upper, '"')) == std::string::npos) {
      for (char& ch : upper) ch = AsciiUpper(ch);
    }
    Param* param = stmt->params[static_cast<size_t>(col)].get();
    param->column = type;
    param->name = upper;
    param->server = stmt->server;
    stmt->names[static_cast<size_t>(col)] = std::move(upper);
  }
}

// A query held to SCNs (its AS OF SCN clauses, the session's DBMS_FLASHBACK) or reporting the SCN
// runs inside its connection's read transaction, on a state whose SCN is each one it asks for.
sword EnterScn(Stmt* stmt, Error* error) {
  const StatementPlan& plan = stmt->plan;
  const int64_t session_scn = stmt->session->flashback_scn;
  if (!plan.reads_scn && plan.as_of_scns.empty() && session_scn == 0) return OCI_SUCCESS;
  sword status = EnterSnapshot(stmt, error);
  if (status == OCI_SUCCESS && session_scn != 0) {
    status = CheckScn(session_scn, stmt->server->scn, error);
  }
  for (int64_t wanted : plan.as_of_scns) {
    if (status == OCI_SUCCESS) status = CheckScn(wanted, stmt->server->scn, error);
  }
  return status;
}

// BEGIN DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(n); END; and its DISABLE. Enabling takes an
// SCN the database has reached; one it has moved past is accepted, and the queries then fail.
sword RunFlashbackBlock(const StatementPlan& plan, Server* server, Session* session, Error* error) {
  if (plan.flashback_scn < 0) {
    session->flashback_scn = 0;
    return OCI_SUCCESS;
  }
  if (session->flashback_scn != 0) return Fail(error, ora::kFlashbackAlreadyEnabled);
  uint64_t current = 0;
  sword status = CurrentScn(server, error, &current);
  if (status != OCI_SUCCESS) return status;
  if (plan.flashback_scn == 0 || static_cast<uint64_t>(plan.flashback_scn) > current) {
    return Fail(error, ora::kInvalidScn);
  }
  session->flashback_scn = plan.flashback_scn;
  return OCI_SUCCESS;
}

}  // namespace

sword StmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* text, ub4 stmt_len,
                  ub4 /*language*/, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (text == nullptr) return Fail(error, ora::kInvalidStatementLength);
  ResetResult(stmt);
  // Parsing happens at execute, when the statement meets its connection, as with a server.
  InspectStatement(reinterpret_cast<const char*>(text), stmt_len, &stmt->plan);
  stmt->prepared = true;
  return OCI_SUCCESS;
}

sword BindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                 sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp,
                 ub2* /*rcodep*/, ub4 /*maxarr_len*/, ub4* /*curelep*/, ub4 /*mode*/) {
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (stmt == nullptr || error == nullptr || bindp == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (placeholder == nullptr) return Fail(error, ora::kIllegalVariableName);
  const char* name = reinterpret_cast<const char*>(placeholder);
  size_t len = placeh_len < 0 ? std::strlen(name) : static_cast<size_t>(placeh_len);
  if (len > 0 && name[0] == ':') {
    ++name;
    --len;
  }
  // The client knows the statement's placeholders from its text: a name it lacks is refused
  // here, not at execute.
  if (len == 0 || !stmt->prepared || !HasPlaceholder(stmt->plan, std::string_view(name, len))) {
    return Fail(error, ora::kIllegalVariableName);
  }
  Bind* bind = nullptr;
  for (Bind* existing : stmt->binds) {
    if (existing && EqualIgnoringCase(std::string_view(name, len), existing->name)) bind = existing;
  }
  if (bind == nullptr) {
    bind = Track(new Bind(stmt->env, stmt));
    stmt->binds.push_back(bind);
    bind->name.assign(name, len);
  }
  bind->value = valuep;
  bind->value_sz = value_sz;
  bind->dty = dty;
  bind->indicator = static_cast<sb2*>(indp);
  bind->length = alenp;
  *bindp = reinterpret_cast<OCIBind*>(static_cast<Handle*>(bind));
  return OCI_SUCCESS;
}

namespace {

// ALTER SESSION: all settings of the statement take effect together or not at all.
sword AlterSession(const StatementPlan& plan, Session* session, Error* error) {
  if (plan.refusal != nullptr) return Fail(error, *plan.refusal);
  DateFormat formats[3] = {session->date_format, session->timestamp_format,
                           session->timestamp_tz_format};
  char decimal_character = session->decimal_character;
  int time_zone_minutes = session->time_zone_minutes;
  for (const SessionSetting& setting : plan.settings) {
    if (setting.which == SessionSetting::kTimeZone) {
      // LOCAL is the client's own zone, the one the session began with.
      if (EqualIgnoringCase(setting.value, "LOCAL")) {
        time_zone_minutes = session->local_time_zone_minutes;
      } else if (!ReadTimeZone(setting.value.data(), setting.value.size(), &time_zone_minutes)) {
        return Fail(error, ora::kTimeZoneRegionNotFound);
      }
    } else if (setting.which == SessionSetting::kNumericCharacters) {
      if (!IsNumericCharacters(setting.value)) return Fail(error, ora::kInvalidNlsEnvironment);
      decimal_character = setting.value[0];
    } else if (!CompileDateFormat(setting.value.data(), setting.value.size(),
                                  &formats[setting.which])) {
      return Fail(error, ora::kDateFormatNotRecognized);
    }
  }
  session->date_format = formats[0];
  session->timestamp_format = formats[1];
  session->timestamp_tz_format = formats[2];
  session->decimal_character = decimal_character;
  session->time_zone_minutes = time_zone_minutes;
  return OCI_SUCCESS;
}

}  // namespace

sword StmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 /*rowoff*/,
                  const OCISnapshot* /*snap_in*/, OCISnapshot* /*snap_out*/, ub4 /*mode*/) {
  SvcCtx* svc = Cast<SvcCtx>(svchp, OCI_HTYPE_SVCCTX);
  Stmt* stmt = Cast<Stmt>(stmtp, OCI_HTYPE_STMT);
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (svc == nullptr || stmt == nullptr || error == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!stmt->prepared) return Fail(error, ora::kStatementNotPrepared);
  Server* server = svc->server;
  Session* session = svc->session;
  if (server == nullptr || server->db == nullptr || session == nullptr || !session->begun) {
    return Fail(error, ora::kNotConnected);
  }
  ResetResult(stmt);
  stmt->server = server;
  stmt->session = session;
  const StatementPlan& plan = stmt->plan;

  if (plan.kind == StatementKind::kAlterSession) return AlterSession(plan, session, error);

  if (plan.refusal != nullptr) return Fail(error, *plan.refusal);
  if (plan.kind == StatementKind::kFlashback) {
    return RunFlashbackBlock(plan, server, session, error);
  }
  if (plan.uses_sysdate && server->set_clock) {
    sqlite3_step(server->set_clock);
    sqlite3_reset(server->set_clock);
  }
  const std::string sql = SqlForSession(plan, session->user);
  const char* tail = nullptr;
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(server->db, sql.data(), static_cast<int>(sql.size()), &st, &tail);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    return FailSqlite(error, session, rc, sqlite3_errmsg(server->db), plan.sql.c_str());
  }
  if (st == nullptr) return Fail(error, ora::kInvalidSqlStatement);
  // One statement per execute: anything after it but blanks and semicolons is refused.
  const char* end = sql.data() + sql.size();
  for (const char* pos = tail; pos && pos < end; ++pos) {
    if (*pos != ' ' && *pos != '\t' && *pos != '\n' && *pos != '\r' && *pos != ';') {
      sqlite3_finalize(st);
      return Fail(error, ora::kCommandNotProperlyEnded);
    }
  }
  stmt->st = st;
  stmt->finished = false;
  const bool is_query = sqlite3_column_count(st) > 0;
  sword status = ApplyBinds(stmt, error);
#if defined(ROWFLUME_FAULT_HOOK)
  if (status == OCI_SUCCESS) status = InjectedFault(stmt, server, error);
#endif
  if (status == OCI_SUCCESS && is_query) status = EnterScn(stmt, error);
  // A write would join the read transaction of the connection's reads at an SCN and commit only
  // when it ends, if at all.
  if (status == OCI_SUCCESS && !is_query && server->snapshot_statements > 0 &&
      !sqlite3_stmt_readonly(st)) {
    status = Fail(error, ora::kNotInFlashbackMode);
  }
  if (status != OCI_SUCCESS) {
    stmt->Finalize();
    return status;
  }
  if (is_query) {
    // A query: run it up to its first row, which describes expressions without a declared
    // type and is kept for the first fetch.
    stmt->is_query = true;
    uint64_t nulls_before = server->aggregate_nulls;
    rc = sqlite3_step(st);
    // The first row is delivered by the first fetch, which carries the warning for it.
    stmt->null_in_aggregate = server->aggregate_nulls != nulls_before;
    if (rc == SQLITE_ROW) {
      stmt->row_pending = true;
    } else if (rc == SQLITE_DONE) {
      stmt->finished = true;
    } else {
      status = FailSqlite(error, session, rc, sqlite3_errmsg(server->db), plan.sql.c_str());
      stmt->Finalize();
      return status;
    }
    Describe(stmt);
    stmt->executed = true;
    if (stmt->finished && stmt->in_snapshot) stmt->Finalize();
    if (iters > 0) return FetchRows(stmt, error, iters);
    return OCI_SUCCESS;
  }
  if (iters == 0) {
    stmt->Finalize();
    return Fail(error, ora::kZeroIterationCount);
  }
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    status = FailSqlite(error, session, rc, sqlite3_errmsg(server->db), plan.sql.c_str());
    stmt->Finalize();
    return status;
  }
  // Each statement commits on its own (autocommit), which is what OCI_COMMIT_ON_SUCCESS asks.
  stmt->row_count = static_cast<ub4>(sqlite3_changes(server->db));
  stmt->Finalize();
  return OCI_SUCCESS;
}

sword ParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos) {
  Error* error = Cast<Error>(errhp, OCI_HTYPE_ERROR);
  if (htype != OCI_HTYPE_STMT || parmdpp == nullptr) return OCI_INVALID_HANDLE;
  Stmt* stmt = Cast<Stmt>(hndlp, OCI_HTYPE_STMT);
  if (stmt == nullptr) return OCI_INVALID_HANDLE;
  ClearError(error);
  if (!stmt->executed) return Fail(error, ora::kStatementNotExecuted);
  if (pos < 1 || pos > stmt->columns.size()) {
    return Fail(error, ora::kNoDescriptorForPosition);
  }
  *parmdpp = static_cast<Handle*>(stmt->params[pos - 1].get());
  return OCI_SUCCESS;
}

}  // namespace rowflume::engine
