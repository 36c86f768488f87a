#include "engine/rowid.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "engine/ora_errors.h"
#include "engine/schemas.h"

namespace rowflume::engine {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int64_t kMaxFile = 1023;
constexpr int64_t kMaxSlot = 65535;
constexpr int64_t kMaxObject = 0xFFFFFFFFLL;

int DigitValue(char ch) {
  if (ch >= 'A' && ch <= 'Z') return ch - 'A';
  if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
  if (ch >= '0' && ch <= '9') return ch - '0' + 52;
  if (ch == '+') return 62;
  if (ch == '/') return 63;
  return -1;
}

void PutDigits(uint64_t value, int count, char* out) {
  for (int idx = count - 1; idx >= 0; --idx) {
    out[idx] = kAlphabet[value & 63];
    value >>= 6;
  }
}

bool ReadDigits(const char* text, int count, int64_t* value) {
  int64_t result = 0;
  for (int idx = 0; idx < count; ++idx) {
    int digit = DigitValue(text[idx]);
    if (digit < 0) return false;
    result = result * 64 + digit;
  }
  *value = result;
  return true;
}

void RaiseInvalidRowid(sqlite3_context* context) {
  sqlite3_result_error(context, OraMessage(ora::kInvalidRowid).c_str(), -1);
}

// rowflume_rowid_create(type, object, file, block, slot): DBMS_ROWID.ROWID_CREATE.
void RowidCreateFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
  int64_t parts[5];
  for (int idx = 0; idx < argc && idx < 5; ++idx) {
    if (sqlite3_value_type(argv[idx]) == SQLITE_NULL) {
      sqlite3_result_null(context);
      return;
    }
    parts[idx] = sqlite3_value_int64(argv[idx]);
  }
  RowidParts rowid{parts[1], parts[2], parts[3], parts[4]};
  char text[kRowidTextChars + 1];
  if (parts[0] != 1 || !EncodeRowid(rowid, text)) {
    sqlite3_result_error(context, OraMessage(ora::kNumericOrValueError).c_str(), -1);
    return;
  }
  sqlite3_result_text(context, text, kRowidTextChars, SQLITE_TRANSIENT);
}

std::string_view ValueText(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value))};
}

// rowflume_rowid_number(text, operator, owner, table): a bound that makes "rowid OP bound" select
// of that table the rows "ROWID OP text" would; NULL only for a NULL text. OP "=" also serves
// "<>" and "!=". A bound that selects all rows or none is an infinity, and one that no rowid
// equals is 0.5: both compare with every rowid, so NOT BETWEEN and <> stay right too.
void RowidNumberFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const char* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const char* op = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  RowidParts parts;
  if (text == nullptr || op == nullptr ||
      !DecodeRowid(text, static_cast<size_t>(sqlite3_value_bytes(argv[0])), &parts)) {
    RaiseInvalidRowid(context);
    return;
  }
  const auto* catalog = static_cast<const Catalog*>(sqlite3_user_data(context));
  int64_t object = DataObjectNumber(sqlite3_context_db_handle(context), *catalog,
                                    ValueText(argv[2]), ValueText(argv[3]));
  int64_t bound = 0;
  RowidSelection selection = RowidBound(parts, object, op, &bound);
  if (selection == RowidSelection::kStretch) {
    sqlite3_result_int64(context, bound);
    return;
  }
  if (op[0] == '=') {
    sqlite3_result_double(context, 0.5);
    return;
  }
  // "<" and "<=" select every row below +infinity; ">" and ">=" every row above -infinity.
  bool below = op[0] == '<';
  bool all = selection == RowidSelection::kAll;
  double infinity = std::numeric_limits<double>::infinity();
  sqlite3_result_double(context, below == all ? infinity : -infinity);
}

// rowflume_rowid_text(owner, table, rowid): the ROWID text of a row of that table.
void RowidTextFunction(sqlite3_context* context, int /*argc*/, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  // The table's data object number is looked up once per statement.
  auto* cached = static_cast<int64_t*>(sqlite3_get_auxdata(context, 1));
  if (cached == nullptr) {
    auto* object = static_cast<int64_t*>(sqlite3_malloc(sizeof(int64_t)));
    if (object == nullptr) {
      sqlite3_result_error_nomem(context);
      return;
    }
    const auto* catalog = static_cast<const Catalog*>(sqlite3_user_data(context));
    *object = DataObjectNumber(sqlite3_context_db_handle(context), *catalog, ValueText(argv[0]),
                               ValueText(argv[1]));
    sqlite3_set_auxdata(context, 1, object, sqlite3_free);
    cached = static_cast<int64_t*>(sqlite3_get_auxdata(context, 1));
    if (cached == nullptr) cached = object;  // not kept: still valid for this call
  }
  char text[kRowidTextChars + 1];
  if (!RowidText(*cached, sqlite3_value_int64(argv[2]), text)) {
    sqlite3_result_null(context);
    return;
  }
  sqlite3_result_text(context, text, kRowidTextChars, SQLITE_TRANSIENT);
}

}  // namespace

bool EncodeRowid(const RowidParts& parts, char* text) {
  if (parts.object < 0 || parts.object > kMaxObject || parts.file < 0 || parts.file > kMaxFile ||
      parts.block < 0 || parts.block > kMaxRowidBlock || parts.slot < 0 || parts.slot > kMaxSlot) {
    return false;
  }
  PutDigits(static_cast<uint64_t>(parts.object), 6, text);
  PutDigits(static_cast<uint64_t>(parts.file), 3, text + 6);
  PutDigits(static_cast<uint64_t>(parts.block), 6, text + 9);
  PutDigits(static_cast<uint64_t>(parts.slot), 3, text + 15);
  text[kRowidTextChars] = '\0';
  return true;
}

bool DecodeRowid(const char* text, size_t len, RowidParts* parts) {
  if (len != kRowidTextChars) return false;
  if (!ReadDigits(text, 6, &parts->object) || !ReadDigits(text + 6, 3, &parts->file) ||
      !ReadDigits(text + 9, 6, &parts->block) || !ReadDigits(text + 15, 3, &parts->slot)) {
    return false;
  }
  return parts->object <= kMaxObject && parts->file <= kMaxFile && parts->block <= kMaxRowidBlock &&
         parts->slot <= kMaxSlot;
}

bool RowidText(int64_t object, int64_t rowid, char* text) {
  if (rowid < 0 || rowid > kMaxRowidPosition) return false;
  int64_t block = rowid / kRowidRowsPerBlock;
  RowidParts parts{object, 1 + (block >> kRowidBlockBits), block & kMaxRowidBlock,
                   rowid % kRowidRowsPerBlock};
  return EncodeRowid(parts, text);
}

RowidSelection RowidBound(const RowidParts& parts, int64_t object, const char* op, int64_t* bound) {
  bool below = op[0] == '<';
  bool equality = op[0] == '=';
  if (parts.object != object) {
    // Every row of the table lies on one side of another object's ROWIDs.
    if (equality) return RowidSelection::kNone;
    return below == (parts.object > object) ? RowidSelection::kAll : RowidSelection::kNone;
  }
  // Slots past the last row of a block lie between that block and the next: "<" and ">=" treat
  // them as the next block's first row, "<=" and ">" as the block's last row.
  int64_t base = ((parts.file - 1) * (kMaxRowidBlock + 1) + parts.block) * kRowidRowsPerBlock;
  bool inclusive_side = std::strcmp(op, "<=") == 0 || std::strcmp(op, ">") == 0;
  if (parts.slot >= kRowidRowsPerBlock) {
    if (equality) return RowidSelection::kNone;
    *bound = base + (inclusive_side ? kRowidRowsPerBlock - 1 : kRowidRowsPerBlock);
    return RowidSelection::kStretch;
  }
  *bound = base + parts.slot;
  return RowidSelection::kStretch;
}

int RegisterRowidFunctions(sqlite3* db, const Catalog* catalog) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  void* owners = const_cast<Catalog*>(catalog);
  int rc = sqlite3_create_function(db, "rowflume_rowid_create", 5, flags, nullptr,
                                   RowidCreateFunction, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "rowflume_rowid_number", 4, flags, owners, RowidNumberFunction,
                                 nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "rowflume_rowid_text", 3, flags, owners, RowidTextFunction,
                                 nullptr, nullptr);
  }
  return rc;
}

}  // namespace rowflume::engine
