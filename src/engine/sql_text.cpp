#include "engine/sql_text.h"

#include <sqlite3.h>

#include <cstring>

#include "common/ascii.h"

namespace rowflume::engine {
namespace {

// The blanks between words of SQL text and of declared type names: blank, tab, line feed,
// carriage return and form feed. Unlike IsAsciiSpace, a vertical tab is not one of them: it stays
// a character of its own, so "NUMBER\v(5)" is an unconstrained NUMBER.
bool IsSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f';
}
bool IsIdentChar(char ch) {
  return IsAsciiLetter(ch) || IsAsciiDigit(ch) || ch == '_' || ch == '$' || ch == '#';
}

// A small tokenizer for the head of a statement: words, quoted names, strings and single
// punctuation characters; comments are skipped.
class Scanner {
 public:
  Scanner(const char* text, size_t len) : text_(text), len_(len) {}

  enum Kind { kEnd, kWord, kQuotedName, kString, kPunct, kBad };

  size_t Position() const { return pos_; }

  size_t TokenStart() const { return start_; }

  Kind Next(std::string* token) {
    token->clear();
    SkipBlanks();
    start_ = pos_;
    if (pos_ >= len_) return kEnd;
    char ch = text_[pos_];
    if (IsIdentChar(ch)) {
      while (pos_ < len_ && IsIdentChar(text_[pos_])) token->push_back(text_[pos_++]);
      return kWord;
    }
    if (ch == '"' || ch == '\'') {
      ++pos_;
      while (pos_ < len_) {
        if (text_[pos_] == ch) {
          // A doubled quote stands for one quote inside the literal.
          if (pos_ + 1 < len_ && text_[pos_ + 1] == ch) {
            token->push_back(ch);
            pos_ += 2;
            continue;
          }
          ++pos_;
          return ch == '"' ? kQuotedName : kString;
        }
        token->push_back(text_[pos_++]);
      }
      return kBad;
    }
    token->push_back(ch);
    ++pos_;
    return kPunct;
  }

 private:
  void SkipBlanks() {
    for (;;) {
      while (pos_ < len_ && IsSpace(text_[pos_])) ++pos_;
      if (pos_ + 1 < len_ && text_[pos_] == '-' && text_[pos_ + 1] == '-') {
        while (pos_ < len_ && text_[pos_] != '\n') ++pos_;
      } else if (pos_ + 1 < len_ && text_[pos_] == '/' && text_[pos_ + 1] == '*') {
        pos_ += 2;
        while (pos_ + 1 < len_ && !(text_[pos_] == '*' && text_[pos_ + 1] == '/')) ++pos_;
        pos_ = pos_ + 2 < len_ ? pos_ + 2 : len_;
      } else {
        return;
      }
    }
  }

  const char* text_;
  size_t len_;
  size_t pos_ = 0;
  size_t start_ = 0;
};

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

void Refuse(StatementPlan* plan, int code, const char* text) {
  plan->error_code = code;
  plan->error_text = text;
  plan->settings.clear();
}

// ALTER SESSION SET name=value [name=value ...]; the scanner stands after SESSION.
void InspectAlterSession(Scanner* scanner, StatementPlan* plan) {
  std::string token;
  Scanner::Kind kind = scanner->Next(&token);
  if (kind != Scanner::kWord || !EqualIgnoringCase(token, "SET")) {
    Refuse(plan, 2248, "invalid option for ALTER SESSION");
    return;
  }
  int pairs = 0;
  for (;;) {
    kind = scanner->Next(&token);
    if (kind == Scanner::kEnd || (kind == Scanner::kPunct && token == ";")) break;
    if (kind != Scanner::kWord && kind != Scanner::kQuotedName) {
      Refuse(plan, 922, "missing or invalid option");
      return;
    }
    bool quoted = kind == Scanner::kQuotedName;
    std::string name = token;
    kind = scanner->Next(&token);
    if (kind != Scanner::kPunct || token != "=") {
      Refuse(plan, 922, "missing or invalid option");
      return;
    }
    kind = scanner->Next(&token);
    if (kind != Scanner::kWord && kind != Scanner::kString) {
      Refuse(plan, 922, "missing or invalid option");
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
    } else if (!IsTuningParameter(name, quoted)) {
      Refuse(plan, 2248, "invalid option for ALTER SESSION");
      return;
    }
  }
  if (pairs == 0) Refuse(plan, 922, "missing or invalid option");
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

// Parses "(a)" or "(a,b)" where a may be '*'; returns the number of values read (0 when there
// are no parentheses). Unit words after the first value (BYTE, CHAR) are reported in char_unit.
int ReadParens(const char** cursor, int* first, int* second, bool* char_unit) {
  const char* pos = *cursor;
  while (*pos == ' ') ++pos;
  if (*pos != '(') return 0;
  ++pos;
  int values = 0;
  int* targets[2] = {first, second};
  while (values < 2) {
    while (*pos == ' ') ++pos;
    if (*pos == '*') {
      *targets[values] = 38;
      ++pos;
    } else {
      bool negative = false;
      if (*pos == '-' || *pos == '+') negative = *pos++ == '-';
      if (!IsAsciiDigit(*pos)) break;
      int value = 0;
      while (IsAsciiDigit(*pos)) {
        if (value < 1000000) value = value * 10 + (*pos - '0');
        ++pos;
      }
      *targets[values] = negative ? -value : value;
    }
    ++values;
    while (*pos == ' ') ++pos;
    if (std::strncmp(pos, "CHAR", 4) == 0) {
      *char_unit = true;
      pos += 4;
    } else if (std::strncmp(pos, "BYTE", 4) == 0) {
      pos += 4;
    }
    while (*pos == ' ') ++pos;
    if (*pos != ',') break;
    ++pos;
  }
  while (*pos && *pos != ')') ++pos;
  if (*pos == ')') ++pos;
  *cursor = pos;
  return values;
}

bool Consume(const char** cursor, const char* word) {
  const char* pos = *cursor;
  while (*pos == ' ') ++pos;
  size_t len = std::strlen(word);
  if (std::strncmp(pos, word, len) != 0) return false;
  if (IsIdentChar(pos[len])) return false;
  *cursor = pos + len;
  return true;
}

ub2 ClampSize(long value) {
  if (value < 0) return 0;
  return value > 65535 ? 65535 : static_cast<ub2>(value);
}

ColumnType Make(ub2 type, ub2 size, sb2 precision, sb1 scale, ub1 form, Family family,
                uint8_t fraction_digits = 0) {
  return ColumnType{type, size, precision, scale, form, family, fraction_digits, 0};
}

ColumnType UnconstrainedNumber() {
  return Make(SQLT_NUM, 22, 0, -127, 0, Family::kNumber);
}

struct Token {
  Scanner::Kind kind;
  std::string text;
  size_t start;
  size_t end;
};

bool IsWord(const Token& token, const char* upper) {
  return token.kind == Scanner::kWord && EqualIgnoringCase(token.text, upper);
}
bool IsPunct(const Token& token, char ch) {
  return token.kind == Scanner::kPunct && token.text.size() == 1 && token.text[0] == ch;
}
bool IsName(const Token& token) {
  return token.kind == Scanner::kWord || token.kind == Scanner::kQuotedName;
}

// A comparison operator starting at token idx: its text and the number of tokens it spans.
int ComparisonAt(const std::vector<Token>& tokens, size_t idx, std::string* op) {
  if (idx >= tokens.size() || tokens[idx].kind != Scanner::kPunct) return 0;
  char first = tokens[idx].text[0];
  bool joined = idx + 1 < tokens.size() && tokens[idx + 1].kind == Scanner::kPunct &&
                tokens[idx + 1].start == tokens[idx].end;
  char second = joined ? tokens[idx + 1].text[0] : '\0';
  if ((first == '<' || first == '>' || first == '!') && second == '=') {
    *op = std::string(1, first) + "=";
    return 2;
  }
  if (first == '<' && second == '>') {
    *op = "<>";
    return 2;
  }
  if (first == '=' || first == '<' || first == '>') {
    *op = std::string(1, first);
    return 1;
  }
  return 0;
}

// A bind placeholder (":name") or a string literal at token idx: its source text and the number
// of tokens it spans.
int OperandAt(const std::vector<Token>& tokens, size_t idx, const std::string& sql,
              std::string* text) {
  if (idx >= tokens.size()) return 0;
  if (tokens[idx].kind == Scanner::kString) {
    *text = sql.substr(tokens[idx].start, tokens[idx].end - tokens[idx].start);
    return 1;
  }
  if (IsPunct(tokens[idx], ':') && idx + 1 < tokens.size() &&
      tokens[idx + 1].kind == Scanner::kWord && tokens[idx + 1].start == tokens[idx].end) {
    *text = sql.substr(tokens[idx].start, tokens[idx + 1].end - tokens[idx].start);
    return 2;
  }
  return 0;
}

std::string SqlString(const std::string& text) {
  std::string out = "'";
  for (char ch : text) {
    out.push_back(ch);
    if (ch == '\'') out.push_back('\'');
  }
  out.push_back('\'');
  return out;
}

// The table a ROWID belongs to: the table behind its qualifier (a table name or an alias given
// in a FROM list), or without qualifier the first table after FROM.
std::string RowidTable(const std::vector<Token>& tokens, const std::string& qualifier) {
  for (size_t idx = 0; idx < tokens.size(); ++idx) {
    if (!IsWord(tokens[idx], "FROM") && !IsWord(tokens[idx], "JOIN") && !IsPunct(tokens[idx], ','))
      continue;
    size_t pos = idx + 1;
    if (pos >= tokens.size() || !IsName(tokens[pos])) continue;
    // owner.table names the table
    while (pos + 2 < tokens.size() && IsPunct(tokens[pos + 1], '.') && IsName(tokens[pos + 2])) {
      pos += 2;
    }
    const std::string& table = tokens[pos].text;
    if (qualifier.empty()) {
      if (IsWord(tokens[idx], "FROM")) return table;
      continue;
    }
    if (EqualIgnoringCase(table, qualifier.c_str()) || table == qualifier) return table;
    size_t alias = pos + 1;
    if (alias < tokens.size() && IsWord(tokens[alias], "AS")) ++alias;
    if (alias < tokens.size() && IsName(tokens[alias]) &&
        (EqualIgnoringCase(tokens[alias].text, qualifier.c_str()) ||
         tokens[alias].text == qualifier)) {
      return table;
    }
  }
  return qualifier;
}

// Oracle forms SQLite lacks, rewritten in place: DBMS_ROWID.ROWID_CREATE; the ROWID pseudo-column
// compared with a bind or a literal becomes a rowid comparison whose bound is decoded once per
// execution, so that a range of ROWIDs is read as a rowid range; ROWID in ORDER BY orders by
// rowid; any other ROWID is the ROWID text. A partition clause names a partition SQLite
// cannot have.
void RewriteOracleForms(StatementPlan* plan) {
  const std::string& sql = plan->sql;
  std::vector<Token> tokens;
  {
    Scanner scanner(sql.data(), sql.size());
    Token token;
    while ((token.kind = scanner.Next(&token.text)) != Scanner::kEnd) {
      if (token.kind == Scanner::kBad) return;
      token.start = scanner.TokenStart();
      token.end = scanner.Position();
      tokens.push_back(token);
    }
  }
  std::string out;
  size_t copied = 0;
  int depth = 0;
  int select_list_depth = -1;  // depth of the select list being read, -1 outside one
  int order_by_depth = -1;     // depth of the ORDER BY clause being read, -1 outside one
  bool changed = false;
  auto replace = [&](size_t from, size_t to, const std::string& text) {
    out.append(sql, copied, from - copied);
    out += text;
    copied = to;
    changed = true;
  };
  for (size_t idx = 0; idx < tokens.size(); ++idx) {
    const Token& token = tokens[idx];
    if (IsPunct(token, '(')) ++depth;
    if (IsPunct(token, ')')) {
      if (order_by_depth == depth) order_by_depth = -1;
      if (select_list_depth == depth) select_list_depth = -1;
      --depth;
    }
    if (IsWord(token, "SELECT")) select_list_depth = depth;
    if (IsWord(token, "FROM") && select_list_depth == depth) select_list_depth = -1;
    if (IsWord(token, "ORDER") && idx + 1 < tokens.size() && IsWord(tokens[idx + 1], "BY")) {
      order_by_depth = depth;
    }
    if (IsWord(token, "UNION") || IsWord(token, "INTERSECT") || IsWord(token, "EXCEPT") ||
        IsWord(token, "MINUS")) {
      order_by_depth = -1;
    }
    if (IsWord(token, "PARTITION") && idx + 1 < tokens.size() &&
        (IsPunct(tokens[idx + 1], '(') || IsWord(tokens[idx + 1], "FOR"))) {
      plan->error_code = 2149;
      plan->error_text = "Specified partition does not exist";
      return;
    }
    if (IsWord(token, "DBMS_ROWID") && idx + 2 < tokens.size() && IsPunct(tokens[idx + 1], '.') &&
        IsWord(tokens[idx + 2], "ROWID_CREATE")) {
      replace(token.start, tokens[idx + 2].end, "rowflume_rowid_create");
      idx += 2;
      continue;
    }
    if (!IsWord(token, "ROWID")) continue;
    if (idx > 0 && IsPunct(tokens[idx - 1], '.') && (idx < 2 || !IsName(tokens[idx - 2]))) {
      continue;
    }
    std::string qualifier;
    size_t from = token.start;
    if (idx >= 2 && IsPunct(tokens[idx - 1], '.')) {
      qualifier = tokens[idx - 2].text;
      from = tokens[idx - 2].start;
      // the qualifier was copied already: take the output back to its start
      if (copied > from) continue;
    }
    std::string column = sql.substr(from, token.start - from) + "_rowid_";
    std::string op;
    std::string first;
    std::string second;
    size_t next = idx + 1;
    int op_tokens = ComparisonAt(tokens, next, &op);
    int operand_tokens = op_tokens ? OperandAt(tokens, next + op_tokens, sql, &first) : 0;
    if (op_tokens && operand_tokens) {
      size_t last = next + op_tokens + operand_tokens - 1;
      if (op == "<>" || op == "!=") {
        replace(from, tokens[last].end,
                "NOT (" + column + " IS rowflume_rowid_number(" + first + ", '='))");
      } else {
        replace(from, tokens[last].end,
                column + " " + op + " rowflume_rowid_number(" + first + ", '" + op + "')");
      }
      idx = last;
      continue;
    }
    bool negated = next < tokens.size() && IsWord(tokens[next], "NOT");
    size_t between = negated ? next + 1 : next;
    if (between < tokens.size() && IsWord(tokens[between], "BETWEEN")) {
      int low_tokens = OperandAt(tokens, between + 1, sql, &first);
      size_t and_idx = between + 1 + static_cast<size_t>(low_tokens);
      int high_tokens = low_tokens && and_idx < tokens.size() && IsWord(tokens[and_idx], "AND")
                            ? OperandAt(tokens, and_idx + 1, sql, &second)
                            : 0;
      if (high_tokens) {
        size_t last = and_idx + static_cast<size_t>(high_tokens);
        replace(from, tokens[last].end,
                column + (negated ? " NOT" : "") + " BETWEEN rowflume_rowid_number(" + first +
                    ", '>=') AND rowflume_rowid_number(" + second + ", '<=')");
        idx = last;
        continue;
      }
    }
    if (order_by_depth >= 0 && order_by_depth == depth) {
      replace(from, token.end, column);
      continue;
    }
    std::string text =
        "rowflume_rowid_text(" + SqlString(RowidTable(tokens, qualifier)) + ", " + column + ")";
    // A select-list ROWID without alias keeps its name.
    if (select_list_depth == depth &&
        (next >= tokens.size() || IsPunct(tokens[next], ',') || IsWord(tokens[next], "FROM"))) {
      text += " AS \"ROWID\"";
    }
    replace(from, token.end, text);
  }
  if (!changed) return;
  out.append(sql, copied, std::string::npos);
  plan->sql = std::move(out);
}

}  // namespace

void InspectStatement(const char* text, size_t len, StatementPlan* plan) {
  *plan = StatementPlan{};
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
  if (plan->stmt_type == kStmtSelect || plan->stmt_type == kStmtUpdate ||
      plan->stmt_type == kStmtDelete) {
    RewriteOracleForms(plan);
  }
  // SYSDATE is a column of DUAL whose clock is set before a statement that names it runs.
  Scanner words(text, len);
  while ((kind = words.Next(&token)) != Scanner::kEnd && kind != Scanner::kBad) {
    if (kind == Scanner::kWord && EqualIgnoringCase(token, "SYSDATE")) {
      plan->uses_sysdate = true;
      break;
    }
  }
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

bool TypeFromDeclared(const char* declared, ColumnType* out) {
  if (declared == nullptr) return false;
  // Upper-cased, blanks collapsed, so that matching below is plain prefix comparison.
  char buf[128];
  size_t used = 0;
  bool blank = true;
  for (const char* pos = declared; *pos && used + 1 < sizeof buf; ++pos) {
    if (IsSpace(*pos)) {
      if (!blank) buf[used++] = ' ';
      blank = true;
      continue;
    }
    buf[used++] = AsciiUpper(*pos);
    blank = false;
  }
  while (used > 0 && buf[used - 1] == ' ') --used;
  buf[used] = '\0';
  if (used == 0) return false;

  const char* cursor = buf;
  int first = -1;
  int second = -1;
  bool char_unit = false;
  if (Consume(&cursor, "NUMBER") || Consume(&cursor, "NUMERIC") || Consume(&cursor, "DECIMAL") ||
      Consume(&cursor, "DEC")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    if (values == 0) {
      *out = UnconstrainedNumber();
    } else {
      *out = Make(SQLT_NUM, 22, static_cast<sb2>(first), static_cast<sb1>(values == 2 ? second : 0),
                  0, Family::kNumber);
    }
    return true;
  }
  if (Consume(&cursor, "FLOAT")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    *out = Make(SQLT_NUM, 22, static_cast<sb2>(values ? first : 126), -127, 0, Family::kNumber);
    return true;
  }
  if (Consume(&cursor, "INTERVAL")) {
    if (Consume(&cursor, "YEAR")) {
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      *out = Make(SQLT_INTERVAL_YM, 5, static_cast<sb2>(values ? first : 2), 0, 0, Family::kText);
    } else {
      Consume(&cursor, "DAY");
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      sb2 leading = static_cast<sb2>(values ? first : 2);
      int fraction = 6;
      if (Consume(&cursor, "TO") && Consume(&cursor, "SECOND") &&
          ReadParens(&cursor, &first, &second, &char_unit)) {
        fraction = first;
      }
      *out = Make(SQLT_INTERVAL_DS, 11, leading, static_cast<sb1>(fraction), 0, Family::kText);
    }
    return true;
  }
  if (Consume(&cursor, "TIMESTAMP")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    int fraction = values ? first : 6;
    if (fraction < 0) fraction = 0;
    if (fraction > 9) fraction = 9;
    auto digits = static_cast<uint8_t>(fraction);
    if (Consume(&cursor, "WITH")) {
      if (Consume(&cursor, "LOCAL")) {
        *out = Make(SQLT_TIMESTAMP_LTZ, 11, 0, static_cast<sb1>(fraction), 0, Family::kTimestampLtz,
                    digits);
      } else {
        *out = Make(SQLT_TIMESTAMP_TZ, 13, 0, static_cast<sb1>(fraction), 0, Family::kTimestampTz,
                    digits);
      }
    } else {
      *out = Make(SQLT_TIMESTAMP, 11, 0, static_cast<sb1>(fraction), 0, Family::kTimestamp, digits);
    }
    return true;
  }
  if (Consume(&cursor, "DATE") || Consume(&cursor, "DATETIME")) {
    *out = Make(SQLT_DAT, 7, 0, 0, 0, Family::kDate);
    return true;
  }
  if (Consume(&cursor, "LONG")) {
    if (Consume(&cursor, "RAW")) {
      *out = Make(SQLT_LBI, 0, 0, 0, 0, Family::kBinary);
    } else {
      *out = Make(SQLT_LNG, 0, 0, 0, 1, Family::kText);
    }
    return true;
  }
  if (Consume(&cursor, "RAW")) {
    int values = ReadParens(&cursor, &first, &second, &char_unit);
    *out = Make(SQLT_BIN, ClampSize(values ? first : 2000), 0, 0, 0, Family::kBinary);
    return true;
  }
  if (Consume(&cursor, "ROWID") || Consume(&cursor, "UROWID")) {
    *out = Make(SQLT_RDD, 10, 0, 0, 0, Family::kText);
    return true;
  }
  if (Consume(&cursor, "NCLOB")) {
    *out = Make(SQLT_CLOB, 4000, 0, 0, 2, Family::kText);
    return true;
  }
  if (Consume(&cursor, "CLOB")) {
    *out = Make(SQLT_CLOB, 4000, 0, 0, 1, Family::kText);
    return true;
  }
  if (Consume(&cursor, "BLOB")) {
    *out = Make(SQLT_BLOB, 4000, 0, 0, 0, Family::kBinary);
    return true;
  }
  if (Consume(&cursor, "BFILE")) {
    *out = Make(SQLT_BFILEE, 530, 0, 0, 0, Family::kBinary);
    return true;
  }
  if (Consume(&cursor, "TEXT")) {
    *out = Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
    return true;
  }
  // Character types: the national ones count two bytes a character, a CHAR length unit four.
  bool national = Consume(&cursor, "NATIONAL");
  if (Consume(&cursor, "NVARCHAR2") || Consume(&cursor, "NVARCHAR"))
    national = true;
  else if (Consume(&cursor, "NCHAR")) {
    national = true;
    if (!Consume(&cursor, "VARYING")) {
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      *out = Make(SQLT_AFC, ClampSize(2L * (values ? first : 1)), 0, 0, 2, Family::kText);
      out->char_length = ClampSize(values ? first : 1);
      return true;
    }
  } else if (Consume(&cursor, "VARCHAR2") || Consume(&cursor, "VARCHAR")) {
  } else if (Consume(&cursor, "CHARACTER") || Consume(&cursor, "CHAR")) {
    if (!Consume(&cursor, "VARYING")) {
      int values = ReadParens(&cursor, &first, &second, &char_unit);
      long size = values ? first : 1;
      if (national)
        size *= 2;
      else if (char_unit)
        size *= 4;
      *out = Make(SQLT_AFC, ClampSize(size), 0, 0, national ? 2 : 1, Family::kText);
      out->char_length = ClampSize(values ? first : 1);
      return true;
    }
  } else {
    // Anything else by SQLite's own affinity rules.
    if (std::strstr(buf, "INT")) {
      *out = Make(SQLT_NUM, 22, 38, 0, 0, Family::kNumber);
    } else if (std::strstr(buf, "CHAR") || std::strstr(buf, "CLOB") || std::strstr(buf, "TEXT")) {
      *out = Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
    } else if (std::strstr(buf, "BLOB")) {
      *out = Make(SQLT_BLOB, 4000, 0, 0, 0, Family::kBinary);
    } else {
      *out = UnconstrainedNumber();
    }
    return true;
  }
  int values = ReadParens(&cursor, &first, &second, &char_unit);
  long size = values ? first : 4000;
  if (national)
    size *= 2;
  else if (char_unit)
    size *= 4;
  *out = Make(SQLT_CHR, ClampSize(size), 0, 0, national ? 2 : 1, Family::kText);
  return true;
}

ColumnType TypeFromStorage(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return UnconstrainedNumber();
    case SQLITE_BLOB:
      return Make(SQLT_BIN, 2000, 0, 0, 0, Family::kBinary);
    default:
      return Make(SQLT_CHR, 4000, 0, 0, 1, Family::kText);
  }
}

}  // namespace rowflume::engine
