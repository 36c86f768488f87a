#include "engine/sql_text.h"

#include <cstdint>

#include "common/ascii.h"
#include "engine/sql_rewrite.h"
#include "engine/sql_scanner.h"

namespace rowflume::engine {
namespace {

// Settings the job run sends to tune a server; they mean nothing to SQLite and are accepted.
bool IsTuningParameter(const std::string& name, bool quoted) {
  if (quoted) return !name.empty() && name[0] == '_';  // hidden parameters
  static const char* const kNames[] = {"DB_FILE_MULTIBLOCK_READ_COUNT",
                                       "WORKAREA_SIZE_POLICY",
                                       "HASH_AREA_SIZE",
                                       "SORT_AREA_SIZE",
                                       "SORT_AREA_RETAINED_SIZE",
                                       "EVENTS"};
  for (const char* known : kNames) {
    if (EqualIgnoringCase(name, known)) return true;
  }
  return false;
}

void Refuse(StatementPlan* plan, const OraError& error) {
  plan->refusal = &error;
  plan->settings.clear();
}

// ALTER SESSION SET name=value [name=value ...]; the scanner stands after SESSION.
void InspectAlterSession(Scanner* scanner, StatementPlan* plan) {
  std::string token;
  Scanner::Kind kind = scanner->Next(&token);
  if (kind != Scanner::kWord || !EqualIgnoringCase(token, "SET")) {
    Refuse(plan, ora::kInvalidAlterSessionOption);
    return;
  }
  int pairs = 0;
  for (;;) {
    kind = scanner->Next(&token);
    if (kind == Scanner::kEnd || (kind == Scanner::kPunct && token == ";")) break;
    if (kind != Scanner::kWord && kind != Scanner::kQuotedName) {
      Refuse(plan, ora::kMissingOrInvalidOption);
      return;
    }
    bool quoted = kind == Scanner::kQuotedName;
    std::string name = token;
    kind = scanner->Next(&token);
    if (kind != Scanner::kPunct || token != "=") {
      Refuse(plan, ora::kMissingOrInvalidOption);
      return;
    }
    kind = scanner->Next(&token);
    if (kind != Scanner::kWord && kind != Scanner::kString) {
      Refuse(plan, ora::kMissingOrInvalidOption);
      return;
    }
    ++pairs;
    if (!quoted && (EqualIgnoringCase(name, "NLS_DATE_FORMAT") ||
                    EqualIgnoringCase(name, "NLS_TIMESTAMP_FORMAT") ||
                    EqualIgnoringCase(name, "NLS_TIMESTAMP_TZ_FORMAT"))) {
      SessionSetting setting;
      setting.which = EqualIgnoringCase(name, "NLS_DATE_FORMAT") ? SessionSetting::kDateFormat
                      : EqualIgnoringCase(name, "NLS_TIMESTAMP_FORMAT")
                          ? SessionSetting::kTimestampFormat
                          : SessionSetting::kTimestampTzFormat;
      setting.value = token;
      plan->settings.push_back(setting);
    } else if (!quoted && EqualIgnoringCase(name, "NLS_NUMERIC_CHARACTERS")) {
      plan->settings.push_back(SessionSetting{SessionSetting::kNumericCharacters, token});
    } else if (!quoted && EqualIgnoringCase(name, "TIME_ZONE")) {
      plan->settings.push_back(SessionSetting{SessionSetting::kTimeZone, token});
    } else if (!IsTuningParameter(name, quoted)) {
      Refuse(plan, ora::kInvalidAlterSessionOption);
      return;
    }
  }
  if (pairs == 0) Refuse(plan, ora::kMissingOrInvalidOption);
}

// BEGIN [SYS.]DBMS_FLASHBACK.ENABLE_AT_SYSTEM_CHANGE_NUMBER(number); END; or the same block
// calling DISABLE[()]; the scanner stands after BEGIN. False for any other block.
bool InspectFlashbackBlock(Scanner* scanner, StatementPlan* plan) {
  std::string token;
  auto next_is = [&](Scanner::Kind kind, const char* text) {
    return scanner->Next(&token) == kind && EqualIgnoringCase(token, text);
  };
  Scanner::Kind kind = scanner->Next(&token);
  if (kind == Scanner::kWord && EqualIgnoringCase(token, "SYS")) {
    if (!next_is(Scanner::kPunct, ".")) return false;
    kind = scanner->Next(&token);
  }
  if (kind != Scanner::kWord || !EqualIgnoringCase(token, "DBMS_FLASHBACK") ||
      !next_is(Scanner::kPunct, ".") || scanner->Next(&token) != Scanner::kWord) {
    return false;
  }
  int64_t scn = -1;
  if (EqualIgnoringCase(token, "ENABLE_AT_SYSTEM_CHANGE_NUMBER")) {
    if (!next_is(Scanner::kPunct, "(")) return false;
    kind = scanner->Next(&token);
    bool negative = kind == Scanner::kPunct && (token == "-" || token == "+");
    if (negative) {
      negative = token == "-";
      kind = scanner->Next(&token);
    }
    // Anything but a number literal names no valid SCN.
    scn = kind == Scanner::kWord ? ScnLiteral(token, negative) : 0;
    while (kind != Scanner::kEnd && !(kind == Scanner::kPunct && token == ")")) {
      kind = scanner->Next(&token);
      if (kind == Scanner::kWord || kind == Scanner::kString) scn = 0;
    }
    if (kind == Scanner::kEnd) return false;
  } else if (EqualIgnoringCase(token, "DISABLE")) {
    Scanner after = *scanner;
    if (after.Next(&token) == Scanner::kPunct && token == "(") {
      if (after.Next(&token) != Scanner::kPunct || token != ")") return false;
      *scanner = after;
    }
  } else {
    return false;
  }
  if (!next_is(Scanner::kPunct, ";") || !next_is(Scanner::kWord, "END") ||
      !next_is(Scanner::kPunct, ";")) {
    return false;
  }
  // Nothing but blanks and semicolons may follow.
  for (;;) {
    kind = scanner->Next(&token);
    if (kind == Scanner::kEnd) break;
    if (kind != Scanner::kPunct || token != ";") return false;
  }
  plan->kind = StatementKind::kFlashback;
  plan->flashback_scn = scn;
  return true;
}

// One pass over the words: the placeholders, whether SYSDATE is named (a column of DUAL whose
// clock is set before such a statement runs); true when the text ends inside a comment.
bool ScanWords(const char* text, size_t len, StatementPlan* plan) {
  Scanner words(text, len);
  std::string token;
  Scanner::Kind kind;
  size_t colon_end = std::string::npos;  // just past the last token when it was a ':'
  while ((kind = words.Next(&token)) != Scanner::kEnd && kind != Scanner::kBad) {
    bool named = kind == Scanner::kWord || kind == Scanner::kQuotedName;
    // A placeholder is a name right after its colon.
    if (named && words.TokenStart() == colon_end && !HasPlaceholder(*plan, token)) {
      plan->placeholders.push_back(token);
    }
    if (kind == Scanner::kWord && EqualIgnoringCase(token, "SYSDATE")) plan->uses_sysdate = true;
    colon_end = kind == Scanner::kPunct && token == ":" ? words.Position() : std::string::npos;
  }
  return words.CommentOpen();
}

ub2 StatementType(const std::string& word) {
  static const struct {
    const char* word;
    ub2 type;
  } kTypes[] = {{"SELECT", kStmtSelect},  {"WITH", kStmtSelect},   {"UPDATE", kStmtUpdate},
                {"DELETE", kStmtDelete},  {"INSERT", kStmtInsert}, {"CREATE", kStmtCreate},
                {"DROP", kStmtDrop},      {"ALTER", kStmtAlter},   {"BEGIN", kStmtBegin},
                {"DECLARE", kStmtDeclare}};
  for (const auto& entry : kTypes) {
    if (EqualIgnoringCase(word, entry.word)) return entry.type;
  }
  return kStmtUnknown;
}

}  // namespace

void InspectStatement(const char* text, size_t len, StatementPlan* plan) {
  *plan = StatementPlan{};
  bool comment_open = ScanWords(text, len, plan);
  Scanner scanner(text, len);
  std::string token;
  Scanner::Kind kind = scanner.Next(&token);
  if (kind == Scanner::kPunct && token == "(") {
    plan->stmt_type = kStmtSelect;
  } else if (kind == Scanner::kWord) {
    plan->stmt_type = StatementType(token);
  }
  if (plan->stmt_type == kStmtAlter) {
    Scanner after_alter = scanner;
    std::string second;
    if (after_alter.Next(&second) == Scanner::kWord && EqualIgnoringCase(second, "SESSION")) {
      plan->kind = StatementKind::kAlterSession;
      InspectAlterSession(&after_alter, plan);
      if (comment_open) Refuse(plan, ora::kCommentNotTerminated);
      return;
    }
  }
  if (plan->stmt_type == kStmtBegin) {
    Scanner after_begin = scanner;
    if (InspectFlashbackBlock(&after_begin, plan)) {
      if (comment_open) plan->refusal = &ora::kCommentNotTerminated;
      return;
    }
  }
  plan->sql.assign(text, len);
  // TRUNCATE TABLE name empties the table; SQLite spells that DELETE FROM name.
  if (kind == Scanner::kWord && EqualIgnoringCase(token, "TRUNCATE")) {
    Scanner after_truncate = scanner;
    std::string second;
    if (after_truncate.Next(&second) == Scanner::kWord && EqualIgnoringCase(second, "TABLE")) {
      plan->sql = "DELETE FROM " + std::string(text + after_truncate.Position(), text + len);
      plan->stmt_type = kStmtDelete;
    }
  }
  if (plan->stmt_type == kStmtSelect) TakeFlashbackForms(plan);
  if (plan->stmt_type == kStmtSelect || plan->stmt_type == kStmtUpdate ||
      plan->stmt_type == kStmtDelete) {
    RewriteOracleForms(plan);
  }
  // The parser stops at an open comment before anything else is looked at.
  if (comment_open) plan->refusal = &ora::kCommentNotTerminated;
}

bool HasPlaceholder(const StatementPlan& plan, std::string_view name) {
  for (const std::string& placeholder : plan.placeholders) {
    if (EqualIgnoringCase(placeholder, name)) return true;
  }
  return false;
}

std::string SqlForSession(const StatementPlan& plan, const std::string& user) {
  if (user.empty()) return plan.sql;
  const char* text = plan.sql.data();
  size_t len = plan.sql.size();
  std::string out;
  size_t copied = 0;
  Scanner scanner(text, len);
  std::string token;
  std::string previous;
  Scanner::Kind kind;
  while ((kind = scanner.Next(&token)) != Scanner::kEnd && kind != Scanner::kBad) {
    size_t end = scanner.Position();
    bool owner = (kind == Scanner::kWord && EqualIgnoringCase(token, user.c_str())) ||
                 (kind == Scanner::kQuotedName && token == user);
    // "USER.name" names the session's own schema, which is the database itself; a name after
    // a dot is a column or object name, not an owner.
    if (owner && end < len && text[end] == '.' && previous != ".") {
      out.append(text + copied, scanner.TokenStart() - copied);
      copied = end + 1;
    }
    previous = kind == Scanner::kPunct ? token : std::string();
  }
  if (copied == 0) return plan.sql;
  out.append(text + copied, len - copied);
  return out;
}

}  // namespace rowflume::engine
