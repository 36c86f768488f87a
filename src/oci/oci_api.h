// The Oracle Call Interface as this program uses it: the scalar types, the constants and the 21
// functions, declared here so that nothing links against an Oracle client. Every call goes
// through an OciApi table, filled either from an Oracle client library loaded at run time or by
// the embedded engine. This header owns the table's shape only: it neither fills a table nor
// chooses one, so both the callers of the client (db) and a provider (engine) may use it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "oci/oci_functions.h"

namespace rowflume {

using ub1 = unsigned char;
using sb1 = signed char;
using ub2 = unsigned short;
using sb2 = signed short;
using ub4 = unsigned int;
using sb4 = signed int;
using sword = signed int;
using OraText = unsigned char;

// Handles and descriptors are opaque; only pointers to them cross the interface.
struct OCIEnv;
struct OCIError;
struct OCIServer;
struct OCISvcCtx;
struct OCISession;
struct OCIStmt;
struct OCIBind;
struct OCIDefine;
struct OCIParam;
struct OCISnapshot;
struct OCILobLocator;

// Return codes.
constexpr sword OCI_SUCCESS = 0;
constexpr sword OCI_SUCCESS_WITH_INFO = 1;
constexpr sword OCI_NEED_DATA = 99;
constexpr sword OCI_NO_DATA = 100;
constexpr sword OCI_ERROR = -1;
constexpr sword OCI_INVALID_HANDLE = -2;

// Modes.
constexpr ub4 OCI_DEFAULT = 0x00000000;
constexpr ub4 OCI_THREADED = 0x00000001;
constexpr ub4 OCI_COMMIT_ON_SUCCESS = 0x00000020;
constexpr ub4 OCI_DESCRIBE_ONLY = 0x00000010;
constexpr ub4 OCI_SYSDBA = 0x00000002;
constexpr ub4 OCI_NTV_SYNTAX = 1;
constexpr ub2 OCI_FETCH_NEXT = 0x02;
constexpr ub1 OCI_LOB_READONLY = 1;
constexpr ub1 OCI_FILE_READONLY = 1;
constexpr ub4 OCI_CRED_RDBMS = 1;
constexpr ub4 OCI_CRED_EXT = 2;

// Handle and descriptor types.
constexpr ub4 OCI_HTYPE_ENV = 1;
constexpr ub4 OCI_HTYPE_ERROR = 2;
constexpr ub4 OCI_HTYPE_SVCCTX = 3;
constexpr ub4 OCI_HTYPE_STMT = 4;
constexpr ub4 OCI_HTYPE_BIND = 5;
constexpr ub4 OCI_HTYPE_DEFINE = 6;
constexpr ub4 OCI_HTYPE_SERVER = 8;
constexpr ub4 OCI_HTYPE_SESSION = 9;
constexpr ub4 OCI_DTYPE_LOB = 50;
constexpr ub4 OCI_DTYPE_PARAM = 53;
constexpr ub4 OCI_DTYPE_FILE = 56;

// Attributes (the handle type decides the meaning of a reused number).
constexpr ub4 OCI_ATTR_DATA_SIZE = 1;        // param: ub2
constexpr ub4 OCI_ATTR_DATA_TYPE = 2;        // param: ub2
constexpr ub4 OCI_ATTR_NAME = 4;             // param: OraText* and ub4 length
constexpr ub4 OCI_ATTR_PRECISION = 5;        // param: sb2
constexpr ub4 OCI_ATTR_SCALE = 6;            // param: sb1
constexpr ub4 OCI_ATTR_SERVER = 6;           // service context: the server handle itself
constexpr ub4 OCI_ATTR_SESSION = 7;          // service context: the session handle itself
constexpr ub4 OCI_ATTR_ROW_COUNT = 9;        // statement: ub4, cumulative rows fetched
constexpr ub4 OCI_ATTR_PARAM_COUNT = 18;     // statement: ub4
constexpr ub4 OCI_ATTR_USERNAME = 22;        // session: bytes and length
constexpr ub4 OCI_ATTR_PASSWORD = 23;        // session: bytes and length
constexpr ub4 OCI_ATTR_ROWS_FETCHED = 197;   // statement: ub4, rows of the last fetch
constexpr ub4 OCI_ATTR_ENV_CHARSET_ID = 31;  // environment: ub2, the client character set
constexpr ub4 OCI_ATTR_CHARSET_ID = 31;      // param: ub2, the column's character set
constexpr ub4 OCI_ATTR_CHARSET_FORM = 32;    // param: ub1, SQLCS_IMPLICIT or SQLCS_NCHAR
constexpr ub4 OCI_ATTR_CHAR_SIZE = 286;      // param: ub2, a character column's length in chars

// Character-set forms: the database set, the national set.
constexpr ub1 SQLCS_IMPLICIT = 1;
constexpr ub1 SQLCS_NCHAR = 2;

// External and described data types.
constexpr ub2 SQLT_CHR = 1;
constexpr ub2 SQLT_NUM = 2;
constexpr ub2 SQLT_INT = 3;
constexpr ub2 SQLT_STR = 5;
constexpr ub2 SQLT_VNU = 6;
constexpr ub2 SQLT_LNG = 8;
constexpr ub2 SQLT_RID = 11;
constexpr ub2 SQLT_DAT = 12;
constexpr ub2 SQLT_BIN = 23;
constexpr ub2 SQLT_LBI = 24;
constexpr ub2 SQLT_UIN = 68;
constexpr ub2 SQLT_LVC = 94;
constexpr ub2 SQLT_LVB = 95;
constexpr ub2 SQLT_AFC = 96;
constexpr ub2 SQLT_IBFLOAT = 100;
constexpr ub2 SQLT_IBDOUBLE = 101;
constexpr ub2 SQLT_RDD = 104;
constexpr ub2 SQLT_CLOB = 112;
constexpr ub2 SQLT_BLOB = 113;
constexpr ub2 SQLT_BFILEE = 114;
constexpr ub2 SQLT_ODT = 156;
constexpr ub2 SQLT_TIMESTAMP = 187;
constexpr ub2 SQLT_TIMESTAMP_TZ = 188;
constexpr ub2 SQLT_INTERVAL_YM = 189;
constexpr ub2 SQLT_INTERVAL_DS = 190;
constexpr ub2 SQLT_TIMESTAMP_LTZ = 232;

// The client functions, with the C signatures of the client library: one pointer type
// OCI<Name>Fn for each entry of the list in oci/oci_functions.h.
#define ROWFLUME_OCI_POINTER_TYPE(result, name, parameters, arguments) \
  using OCI##name##Fn = result(*) parameters;
ROWFLUME_OCI_FUNCTIONS(ROWFLUME_OCI_POINTER_TYPE)
#undef ROWFLUME_OCI_POINTER_TYPE

// The number of client functions the program calls.
#define ROWFLUME_OCI_COUNT_ONE(result, name, parameters, arguments) +1
constexpr int kOciFunctionCount = 0 ROWFLUME_OCI_FUNCTIONS(ROWFLUME_OCI_COUNT_ONE);
#undef ROWFLUME_OCI_COUNT_ONE

// One provider of the client functions: a member named after each function of the list. Every
// handle made through a table must only be passed back to the same table.
struct OciApi {
  const char* provider;  // what fills the table: "embedded engine" or the client library's file
#define ROWFLUME_OCI_MEMBER(result, name, parameters, arguments) OCI##name##Fn name;
  ROWFLUME_OCI_FUNCTIONS(ROWFLUME_OCI_MEMBER)
#undef ROWFLUME_OCI_MEMBER
};

}  // namespace rowflume
