// The Oracle errors the embedded engine raises, each number with its message text in one table:
// a failure site names its error and never spells it. Texts leave out the "ORA-nnnnn: " head.
#pragma once

#include <string>

namespace rowflume::engine {

// An error whose text is fixed.
struct OraError {
  int code;
  const char* text;
};

// "ORA-nnnnn: text": the form of an error raised inside SQLite (by the engine's functions and
// views), which FailSqlite reads back as that error.
std::string OraMessage(const OraError& error);

namespace ora {

inline constexpr OraError kResourceBusy{
    54, "resource busy and acquire with NOWAIT specified or timeout expired"};
inline constexpr OraError kInvalidSqlStatement{900, "invalid SQL statement"};
inline constexpr OraError kInvalidNumberOfArguments{909, "invalid number of arguments"};
inline constexpr OraError kColumnAmbiguouslyDefined{918, "column ambiguously defined"};
inline constexpr OraError kUnexpectedEndOfCommand{921, "unexpected end of SQL command"};
inline constexpr OraError kMissingOrInvalidOption{922, "missing or invalid option"};
inline constexpr OraError kFromKeywordNotFound{923, "FROM keyword not found where expected"};
inline constexpr OraError kInconsistentDatatypes{932, "inconsistent datatypes"};
inline constexpr OraError kCommandNotProperlyEnded{933, "SQL command not properly ended"};
inline constexpr OraError kTableOrViewDoesNotExist{942, "table or view does not exist"};
inline constexpr OraError kNameAlreadyUsed{955, "name is already used by an existing object"};
inline constexpr OraError kVariableNotInSelectList{1007, "variable not in select list"};
inline constexpr OraError kNotAllVariablesBound{1008, "not all variables bound"};
inline constexpr OraError kMissingMandatoryParameter{1009, "missing mandatory parameter"};
inline constexpr OraError kNotLoggedOn{1012, "not logged on"};
inline constexpr OraError kUserRequestedCancel{1013, "user requested cancel of current operation"};
inline constexpr OraError kLogonDenied{1017, "invalid username/password; logon denied"};
inline constexpr OraError kIllegalVariableName{1036, "illegal variable name/number"};
inline constexpr OraError kNoDataFound{1403, "no data found"};
inline constexpr OraError kFetchedColumnNull{1405, "fetched column value is NULL"};
// Reported as a column's return code only; the fetch as a whole reports kTruncationOrNullFetch.
inline constexpr OraError kFetchedColumnTruncated{1406, "fetched column value was truncated"};
inline constexpr OraError kInvalidRowid{1410, "invalid ROWID"};
inline constexpr OraError kNumericOverflow{1426, "numeric overflow"};
inline constexpr OraError kIntegerOverflow{1455, "converting column overflows integer datatype"};
inline constexpr OraError kSnapshotTooOld{
    1555, "snapshot too old: rollback segment number  with name \"\" too small"};
inline constexpr OraError kInvalidNumber{1722, "invalid number"};
inline constexpr OraError kCommentNotTerminated{1742, "comment not terminated properly"};
inline constexpr OraError kDateFormatNotRecognized{1821, "date format not recognized"};
inline constexpr OraError kYearOutOfRange{
    1841, "(full) year must be between -4713 and +9999, and not be 0"};
inline constexpr OraError kTimeZoneRegionNotFound{1882, "timezone region not found"};
inline constexpr OraError kLiteralDoesNotMatchFormat{1861, "literal does not match format string"};
inline constexpr OraError kPartitionDoesNotExist{2149, "Specified partition does not exist"};
inline constexpr OraError kInvalidAlterSessionOption{2248, "invalid option for ALTER SESSION"};
inline constexpr OraError kParentKeyNotFound{
    2291, "integrity constraint violated - parent key not found"};
inline constexpr OraError kUnimplementedFeature{3001, "unimplemented feature"};
inline constexpr OraError kNotConnected{3114, "not connected to ORACLE"};
inline constexpr OraError kUnsupportedDatatype{3115,
                                               "unsupported network datatype or representation"};
inline constexpr OraError kOutOfProcessMemory{4030, "out of process memory"};
inline constexpr OraError kNumericOrValueError{6502, "PL/SQL: numeric or value error"};
inline constexpr OraError kInvalidScn{8181, "specified number is not a valid system change number"};
inline constexpr OraError kNotInFlashbackMode{8182,
                                              "operation not supported while in Flashback mode"};
inline constexpr OraError kFlashbackAlreadyEnabled{
    8184, "attempting to re-enable Flashback while in Flashback mode"};
inline constexpr OraError kSnapshotNotAllowedHere{8187, "snapshot expression not allowed here"};
inline constexpr OraError kConnectIdentifierNotResolved{
    12154, "TNS:could not resolve the connect identifier specified"};
inline constexpr OraError kInvalidNlsEnvironment{
    12705, "Cannot access NLS data files or invalid environment specified"};
inline constexpr OraError kReadOnlyDatabase{16000, "database open for read-only access"};
inline constexpr OraError kInvalidLobLocator{22275, "invalid LOB locator specified"};
inline constexpr OraError kLobNotOpen{22289, "cannot perform operation on an unopened file or LOB"};
inline constexpr OraError kLobAlreadyOpen{22293, "LOB already opened in the same transaction"};
inline constexpr OraError kAlreadyConnected{24309, "already connected to a server"};
inline constexpr OraError kIllegalAttributeType{24315, "illegal attribute type"};
inline constexpr OraError kServiceHandleNotInitialized{24324, "service handle not initialized"};
inline constexpr OraError kZeroIterationCount{24333, "zero iteration count"};
inline constexpr OraError kNoDescriptorForPosition{24334, "no descriptor for this position"};
inline constexpr OraError kStatementNotPrepared{24337, "statement handle not prepared"};
inline constexpr OraError kStatementNotExecuted{24338, "statement handle not executed"};
inline constexpr OraError kCallbackError{24343, "user defined callback error"};
inline constexpr OraError kTruncationOrNullFetch{24345,
                                                 "A Truncation or null fetch error occurred"};
// A warning (the fetch returns OCI_SUCCESS_WITH_INFO with every row it asked for).
inline constexpr OraError kNullInAggregate{24347,
                                           "Warning of a NULL column in an aggregate function"};
inline constexpr OraError kLobFormMismatch{24806, "LOB form mismatch"};
inline constexpr OraError kInvalidStatementLength{24373, "invalid length specified for statement"};
inline constexpr OraError kInvalidFetchOperation{24391, "invalid fetch operation"};
inline constexpr OraError kIllegalLobParameter{24801,
                                               "illegal parameter value in OCI lob function"};
inline constexpr OraError kPasswordExpired{28001, "the password has expired"};

// Errors whose text is a printf format, one type each: FailFormat<ora::Name>(error, arguments)
// hands the compiler the format itself, so every call's arguments are checked against it.

struct UniqueConstraintViolated {
  static constexpr int kCode = 1;
  static constexpr char kFormat[] = "unique constraint (%s.%s) violated";  // owner, name
};

struct InternalError {
  static constexpr int kCode = 600;
  static constexpr char kFormat[] = "internal error code, arguments: [%d], [%s]";
};

// A schema file that cannot be attached, with the line Oracle stacks under it naming the file.
struct CannotIdentifyDataFile {
  static constexpr int kCode = 1157;
  static constexpr char kFormat[] =
      "cannot identify/lock data file %d - see DBWR trace file\nORA-01110: data file %d: '%s'";
};

struct InvalidIdentifier {
  static constexpr int kCode = 904;
  static constexpr char kFormat[] = "%s: invalid identifier";  // the quoted identifier
};

struct CannotInsertNull {
  static constexpr int kCode = 1400;
  static constexpr char kFormat[] = "cannot insert NULL into (\"%s\".%s)";  // owner, column
};

// A warning: the logon succeeds with it during the password's grace period.
struct PasswordWillExpire {
  static constexpr int kCode = 28002;
  static constexpr char kFormat[] = "the password will expire within %d days";
};

struct CheckConstraintViolated {
  static constexpr int kCode = 2290;
  static constexpr char kFormat[] = "check constraint (%s.%s) violated";  // owner, name
};

}  // namespace ora
}  // namespace rowflume::engine
