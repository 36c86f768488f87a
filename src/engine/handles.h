// The handle records behind the opaque client pointers, for the engine's sources only: what each
// handle holds, how a pointer is checked to be a live handle, how a handle joins its environment.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/column_types.h"
#include "engine/date_time.h"
#include "engine/number.h"
#include "engine/schemas.h"
#include "engine/sql_text.h"
#include "oci/oci_api.h"

namespace rowflume::engine {

constexpr uint32_t kHandleMagic = 0x52464c45;  // marks live engine handles
constexpr ub4 kHtypeParam = OCI_DTYPE_PARAM;

struct Env;

// Common head of every handle and descriptor. Handles sit in their environment's list so that
// freeing the environment frees everything allocated from it.
struct Handle {
  explicit Handle(ub4 handle_type, Env* owner) : type(handle_type), env(owner) {}
  virtual ~Handle();
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  uint32_t magic = kHandleMagic;
  ub4 type;
  Env* env;
  Handle* prev = nullptr;  // environment list links
  Handle* next = nullptr;
  bool listed = false;
};

// One error record as OCIErrorGet returns it.
struct ErrorRecord {
  sb4 code = 0;
  std::string text;  // "ORA-nnnnn: message\n"
};

struct Env : Handle {
  Env() : Handle(OCI_HTYPE_ENV, this) {}
  ~Env() override;
  ErrorRecord error;
  ub4 mode = OCI_DEFAULT;  // as created; without OCI_THREADED one thread at a time may use it
  ub2 charset = 0;
  ub2 ncharset = 0;
  char decimal_character = '.';  // from NLS_LANG's territory; the default of its sessions
  Handle* first = nullptr;       // every handle allocated from this environment
};

struct Error : Handle {
  explicit Error(Env* owner) : Handle(OCI_HTYPE_ERROR, owner) {}
  ErrorRecord record;
};

struct Session;

struct Server : Handle {
  explicit Server(Env* owner) : Handle(OCI_HTYPE_SERVER, owner) {}
  ~Server() override;
  sqlite3* db = nullptr;
  bool read_only = false;
  sqlite3_stmt* set_clock = nullptr;  // refreshes DUAL's SYSDATE
  Catalog catalog;  // owners of the connection; the dictionary's functions and views read it
  uint64_t aggregate_nulls = 0;  // NULLs an aggregate has skipped on this connection, ever
  ub2 database_charset = 0;      // declared by the database (charsets.h); 0 none
  bool settings_read = false;    // database_charset has been looked up
  // The read transaction that statements reading at an SCN share (flashback.h).
  int snapshot_statements = 0;  // statements inside it
  bool snapshot_began = false;  // the engine began it, and ends it when the last one leaves
  uint64_t scn = 0;             // the SCN of its state
};

struct Session : Handle {
  explicit Session(Env* owner);
  std::string username;
  std::string password;
  std::string user;  // the session user once begun
  bool begun = false;
  DateFormat date_format;
  DateFormat timestamp_format;
  DateFormat timestamp_tz_format;
  char decimal_character;           // of number text: NLS_NUMERIC_CHARACTERS' first character
  int time_zone_minutes = 0;        // TIME_ZONE, east of UTC
  int local_time_zone_minutes = 0;  // the client's zone: ORA_SDTZ's, else UTC
  int64_t flashback_scn = 0;        // DBMS_FLASHBACK's: every query reads at it; 0 while disabled
};

struct SvcCtx : Handle {
  explicit SvcCtx(Env* owner) : Handle(OCI_HTYPE_SVCCTX, owner) {}
  Server* server = nullptr;
  Session* session = nullptr;
};

struct Stmt;

// How one define turns a column value into the caller's buffer; chosen at fetch start.
enum class Conversion : uint8_t {
  kText,     // text forms (SQLT_CHR, SQLT_STR, SQLT_AFC, SQLT_LNG, SQLT_LVC)
  kBytes,    // raw bytes (SQLT_BIN, SQLT_LBI, SQLT_LVB)
  kNumber,   // Oracle NUMBER bytes (SQLT_NUM, SQLT_VNU)
  kDate,     // Oracle DATE bytes (SQLT_DAT)
  kInteger,  // host integers (SQLT_INT, SQLT_UIN)
  kDouble,   // host floating point (SQLT_FLT, SQLT_BDOUBLE, SQLT_IBDOUBLE)
  kLocator,  // LOB locators (SQLT_CLOB, SQLT_BLOB, SQLT_BFILEE)
};

// How the converted bytes are placed into one row's slot.
enum class Framing : uint8_t {
  kPlain,       // bytes only
  kTerminated,  // bytes and a NUL (SQLT_STR)
  kLength4,     // 4-byte host-order length, then bytes (SQLT_LVC, SQLT_LVB)
  kLength1,     // 1-byte length, then bytes (SQLT_VNU)
  kFixed,       // exactly value_sz bytes (integers, doubles, locators)
};

struct Define : Handle {
  Define(Env* owner, Stmt* parent) : Handle(OCI_HTYPE_DEFINE, owner), stmt(parent) {}
  ~Define() override;  // leaves its statement's list
  Stmt* stmt;
  ub4 position = 0;
  char* buffer = nullptr;
  sb4 value_sz = 0;
  ub2 dty = 0;
  sb2* indicators = nullptr;
  ub2* lengths = nullptr;
  ub2* codes = nullptr;
  Conversion conversion = Conversion::kText;
  Framing framing = Framing::kPlain;
  size_t stride = 0;  // bytes between rows in the buffer
  // Resolved against the described column when a fetch starts.
  Family family = Family::kText;
  uint8_t fraction_digits = 0;
  const DateFormat* date_format = nullptr;  // session format for text of dates and timestamps
  // TIMESTAMP WITH LOCAL TIME ZONE: values are stored as UTC (or with their own offset) and shown
  // in the session's time zone, zone_minutes east of UTC.
  bool local_zone = false;
  int zone_minutes = 0;
  bool rounds = false;  // NUMBER(p,s): values are rounded to the scale, as stored by Oracle
  sb1 round_scale = 0;
  char decimal_character = '.';  // the session's, in number text
  ub2 pad_chars = 0;             // CHAR(n): values are padded with blanks to n characters
  ub1 charset_form = 0;          // the column's, given to the locators it fills
  ub2 text_from = 0;      // text stored in this set is converted into text_to; 0: passed as stored
  ub2 text_to = 0;        // the set of the text delivered; 0: UTF-8 as SQLite stores it
  bool in_place = false;  // plain text whose common values are written straight into the slot
};

struct Bind : Handle {
  Bind(Env* owner, Stmt* parent) : Handle(OCI_HTYPE_BIND, owner), stmt(parent) {}
  ~Bind() override;  // leaves its statement's list
  Stmt* stmt;
  std::string name;  // without the colon
  void* value = nullptr;
  sb4 value_sz = 0;
  ub2 dty = 0;
  sb2* indicator = nullptr;
  ub2* length = nullptr;
};

struct Param : Handle {
  explicit Param(Env* owner) : Handle(OCI_DTYPE_PARAM, owner) {}
  ColumnType column{};
  std::string name;
  Server* server = nullptr;  // of the described statement: its declared character set
};

struct Lob : Handle {
  Lob(Env* owner, ub4 descriptor_type) : Handle(descriptor_type, owner) {}
  std::string data;      // the value the locator was last fetched with
  ub1 charset_form = 0;  // of its column: 1 CLOB, 2 NCLOB, 0 binary; a read must name it
  bool has_value = false;
  bool is_open = false;
  bool polling = false;  // a piecewise read is in progress
  size_t poll_pos = 0;   // next byte of a piecewise read
  size_t poll_end = 0;   // end of a piecewise read
};

struct Stmt : Handle {
  explicit Stmt(Env* owner) : Handle(OCI_HTYPE_STMT, owner) {}
  ~Stmt() override;
  // Ends the result: the SQLite statement is finalized and nothing more is fetched.
  void Finalize();
  // The statement's connection or session goes away: its result ends and it must be executed
  // again before anything is fetched.
  void Detach();

  StatementPlan plan;
  bool prepared = false;
  sqlite3_stmt* st = nullptr;
  Server* server = nullptr;
  Session* session = nullptr;
  bool executed = false;  // executed as a query and describable
  bool is_query = false;
  bool row_pending = false;  // a row was stepped and not yet delivered
  bool finished = false;     // the result has been read to its end
  bool plan_ready = false;   // defines have their conversions for this execution
  bool in_snapshot = false;  // reads at an SCN inside its connection's read transaction
  std::vector<ColumnType> columns;
  std::vector<std::string> names;
  std::vector<std::unique_ptr<Param>> params;
  std::vector<Define*> defines;  // by position - 1
  std::vector<Bind*> binds;
  ub4 row_count = 0;
  ub4 rows_fetched = 0;
  bool null_in_aggregate =
      false;  // rows stepped since the last fetch made an aggregate skip a NULL
  char scratch[kDateTextMax > kNumberTextMax ? kDateTextMax : kNumberTextMax];
  std::string wide;  // hexadecimal text of binary values, reused from row to row
};

// Checks that a pointer is a live engine handle of the given type.
template <typename T>
T* Cast(const void* pointer, ub4 type) {
  auto* handle = static_cast<Handle*>(const_cast<void*>(pointer));
  if (handle == nullptr || handle->magic != kHandleMagic || handle->type != type) return nullptr;
  return static_cast<T*>(handle);
}

// The LOB or BFILE locator a pointer is, or null.
inline Lob* CastLob(const void* pointer) {
  Lob* lob = Cast<Lob>(pointer, OCI_DTYPE_LOB);
  return lob != nullptr ? lob : Cast<Lob>(pointer, OCI_DTYPE_FILE);
}

// Puts a new handle into its environment's list, so that freeing the environment frees it.
template <typename T>
T* Track(T* handle) {
  Env* env = handle->env;
  handle->next = env->first;
  if (env->first) env->first->prev = handle;
  env->first = handle;
  handle->listed = true;
  return handle;
}

// Adds the dictionary views, DBMS_ROWID.ROWID_CREATE, NVL and the ROWID conversions to a
// connection (dictionary.cpp); they read the connection's owners from catalog, which must
// outlive the connection.
int RegisterDictionary(sqlite3* db, const Catalog* catalog);

}  // namespace rowflume::engine
