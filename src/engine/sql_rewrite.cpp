#include "engine/sql_rewrite.h"

#include <cstdint>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "engine/sql_scanner.h"

namespace rowflume::engine {
namespace {

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

// A table as a statement names it: its owner ("" when not qualified) and its name.
struct TableName {
  std::string owner;
  std::string table;
};

// The table a ROWID belongs to: the table behind its qualifier (a table name or an alias given
// in a FROM list), or without qualifier the first table after FROM (or UPDATE).
TableName RowidTable(const std::vector<Token>& tokens, const std::string& qualifier) {
  for (size_t idx = 0; idx < tokens.size(); ++idx) {
    bool first_table = IsWord(tokens[idx], "FROM") || IsWord(tokens[idx], "UPDATE");
    if (!first_table && !IsWord(tokens[idx], "JOIN") && !IsPunct(tokens[idx], ',')) continue;
    size_t pos = idx + 1;
    if (pos >= tokens.size() || !IsName(tokens[pos])) continue;
    TableName name;
    // owner.table names the table
    while (pos + 2 < tokens.size() && IsPunct(tokens[pos + 1], '.') && IsName(tokens[pos + 2])) {
      name.owner = tokens[pos].text;
      pos += 2;
    }
    name.table = tokens[pos].text;
    if (qualifier.empty()) {
      if (first_table) return name;
      continue;
    }
    if (EqualIgnoringCase(name.table, qualifier)) return name;
    size_t alias = pos + 1;
    if (alias < tokens.size() && IsWord(tokens[alias], "AS")) ++alias;
    if (alias < tokens.size() && IsName(tokens[alias]) &&
        EqualIgnoringCase(tokens[alias].text, qualifier)) {
      return name;
    }
  }
  return {std::string(), qualifier};
}

// Whether tokens [from, to) are one ROWID select-list item: [[owner.]name.]ROWID [[AS] alias].
bool IsRowidItem(const std::vector<Token>& tokens, size_t from, size_t to) {
  size_t pos = from;
  for (int parts = 0;
       parts < 2 && pos + 2 < to && IsName(tokens[pos]) && IsPunct(tokens[pos + 1], '.'); ++parts) {
    pos += 2;
  }
  if (pos >= to || !IsWord(tokens[pos], "ROWID")) return false;
  ++pos;
  if (pos < to && IsWord(tokens[pos], "AS")) ++pos;
  if (pos < to && IsName(tokens[pos])) ++pos;
  return pos == to;
}

// Whether tokens [from, to) are "*" or "name.*".
bool IsStarItem(const std::vector<Token>& tokens, size_t from, size_t to) {
  return to > from && IsPunct(tokens[to - 1], '*') &&
         (to - from == 1 ||
          (to - from == 3 && IsName(tokens[from]) && IsPunct(tokens[from + 1], '.')));
}

// Finds the ROWID items of the main select list (the first one outside parentheses), counted as
// StatementPlan says.
void FindRowidItems(const std::vector<Token>& tokens, StatementPlan* plan) {
  int depth = 0;
  size_t idx = 0;
  for (; idx < tokens.size(); ++idx) {
    if (IsPunct(tokens[idx], '(')) ++depth;
    if (IsPunct(tokens[idx], ')')) --depth;
    if (depth == 0 && IsWord(tokens[idx], "SELECT")) break;
  }
  if (idx == tokens.size()) return;
  ++idx;
  if (idx < tokens.size() && (IsWord(tokens[idx], "DISTINCT") || IsWord(tokens[idx], "UNIQUE") ||
                              IsWord(tokens[idx], "ALL"))) {
    ++idx;
  }
  std::vector<std::pair<size_t, size_t>> items;
  size_t start = idx;
  for (depth = 0; idx <= tokens.size(); ++idx) {
    bool end = idx == tokens.size() || (depth == 0 && IsWord(tokens[idx], "FROM"));
    if (end || (depth == 0 && IsPunct(tokens[idx], ','))) {
      items.emplace_back(start, idx);
      start = idx + 1;
      if (end) break;
      continue;
    }
    if (IsPunct(tokens[idx], '(')) ++depth;
    if (IsPunct(tokens[idx], ')') && --depth < 0) break;  // a select list ends inside a bracket
  }
  int count = static_cast<int>(items.size());
  int first_star = count;
  int last_star = -1;
  for (int item = 0; item < count; ++item) {
    if (IsStarItem(tokens, items[item].first, items[item].second)) {
      if (first_star == count) first_star = item;
      last_star = item;
    }
  }
  for (int item = 0; item < count; ++item) {
    if (!IsRowidItem(tokens, items[item].first, items[item].second)) continue;
    if (item < first_star) {
      plan->rowid_from_front.push_back(item);
    } else if (item > last_star) {
      plan->rowid_from_back.push_back(count - item);
    }
  }
}

// An aggregate that skips NULLs and warns about it, called at token idx: the index of the token
// its argument starts at, 0 when there is none (COUNT(*) skips nothing and is left out).
size_t AggregateArgumentAt(const std::vector<Token>& tokens, size_t idx) {
  const Token& token = tokens[idx];
  if (!IsWord(token, "MAX") && !IsWord(token, "MIN") && !IsWord(token, "SUM") &&
      !IsWord(token, "AVG")) {
    return 0;
  }
  if (idx > 0 && IsPunct(tokens[idx - 1], '.')) return 0;
  if (idx + 2 >= tokens.size() || !IsPunct(tokens[idx + 1], '(')) return 0;
  size_t argument = idx + 2;
  if (IsWord(tokens[argument], "DISTINCT") || IsWord(tokens[argument], "ALL")) ++argument;
  if (argument >= tokens.size() || IsPunct(tokens[argument], '*') ||
      IsPunct(tokens[argument], ')')) {
    return 0;
  }
  return argument;
}

// The index of the bracket closing the one at open, or 0 when the text ends first.
size_t ClosingBracket(const std::vector<Token>& tokens, size_t open) {
  int depth = 0;
  for (size_t idx = open; idx < tokens.size(); ++idx) {
    if (IsPunct(tokens[idx], '(')) ++depth;
    if (IsPunct(tokens[idx], ')') && --depth == 0) return idx;
  }
  return 0;
}

// The tokens of a statement; false when a quote is left open, which SQLite reports.
bool Tokenize(const std::string& sql, std::vector<Token>* tokens) {
  Scanner scanner(sql.data(), sql.size());
  Token token;
  while ((token.kind = scanner.Next(&token.text)) != Scanner::kEnd) {
    if (token.kind == Scanner::kBad) return false;
    token.start = scanner.TokenStart();
    token.end = scanner.Position();
    tokens->push_back(token);
  }
  return true;
}

// The rewritten text, built front to back: the source is copied up to each replacement.
class Rewrite {
 public:
  explicit Rewrite(const std::string& sql) : sql_(sql) {}

  // Puts text in place of the source bytes [from, to); from is never before an earlier to. A
  // word written straight after a word of the source ("max(distinct(" or select"E".ROWID) is
  // parted from it by kWordParting, so that the two never read as one name.
  void Replace(size_t from, size_t to, const std::string& text) {
    out_.append(sql_, copied_, from - copied_);
    if (!text.empty() && !out_.empty() && IsSqlWordChar(out_.back()) && IsSqlWordChar(text[0])) {
      out_ += kWordParting;
    }
    out_ += text;
    copied_ = to;
    changed_ = true;
  }

  // Source bytes before this offset are in the output already.
  size_t copied() const { return copied_; }
  const std::string& source() const { return sql_; }

  // Stores the rewritten text in *target (which may be the source), when anything changed.
  void Finish(std::string* target) {
    if (!changed_) return;
    out_.append(sql_, copied_, std::string::npos);
    *target = std::move(out_);
  }

 private:
  const std::string& sql_;
  std::string out_;
  size_t copied_ = 0;
  bool changed_ = false;
};

// Where a token lies among the clauses: a ROWID rewrites differently in the select list and in
// ORDER BY, each of them at its own bracket depth.
struct ClauseState {
  int depth = 0;
  int select_list_depth = -1;  // depth of the select list being read, -1 outside one
  int order_by_depth = -1;     // depth of the ORDER BY clause being read, -1 outside one
};

// Updates the clause state for the token at idx, before the token itself is rewritten.
void TrackClauses(const std::vector<Token>& tokens, size_t idx, ClauseState* clauses) {
  const Token& token = tokens[idx];
  if (IsPunct(token, '(')) ++clauses->depth;
  if (IsPunct(token, ')')) {
    if (clauses->order_by_depth == clauses->depth) clauses->order_by_depth = -1;
    if (clauses->select_list_depth == clauses->depth) clauses->select_list_depth = -1;
    --clauses->depth;
  }
  if (IsWord(token, "SELECT")) clauses->select_list_depth = clauses->depth;
  if (IsWord(token, "FROM") && clauses->select_list_depth == clauses->depth) {
    clauses->select_list_depth = -1;
  }
  if (IsWord(token, "ORDER") && idx + 1 < tokens.size() && IsWord(tokens[idx + 1], "BY")) {
    clauses->order_by_depth = clauses->depth;
  }
  if (IsWord(token, "UNION") || IsWord(token, "INTERSECT") || IsWord(token, "EXCEPT") ||
      IsWord(token, "MINUS")) {
    clauses->order_by_depth = -1;
  }
}

// An aggregate's argument passes through rowflume_null_note, which counts the NULLs the
// aggregate skips: a fetch of its rows warns of them, as Oracle's does. At token idx this closes
// the note of an argument that ends there and opens one for an aggregate that starts there.
void NoteAggregateNulls(const std::vector<Token>& tokens, size_t idx, Rewrite* rewrite,
                        std::vector<size_t>* note_closes) {
  if (!note_closes->empty() && note_closes->back() == idx) {
    rewrite->Replace(tokens[idx].start, tokens[idx].start, ")");
    note_closes->pop_back();
  }
  if (size_t argument = AggregateArgumentAt(tokens, idx); argument != 0) {
    size_t close = ClosingBracket(tokens, idx + 1);
    if (close != 0) {
      rewrite->Replace(tokens[argument].start, tokens[argument].start, "rowflume_null_note(");
      note_closes->push_back(close);
    }
  }
}

// A ROWID column reference being rewritten: the source it starts at (its qualifier included),
// the rowid column SQLite reads, and the owner and table arguments of the engine's functions.
struct RowidReference {
  size_t from;
  std::string column;
  std::string table_arguments;
};

// ROWID compared with one bind or literal (at tokens[next]): a rowid comparison whose bound is
// decoded once per execution. Returns the index of the last token taken, 0 when it is no such
// comparison.
size_t RewriteRowidComparison(const std::vector<Token>& tokens, size_t next, const std::string& sql,
                              const RowidReference& rowid, Rewrite* rewrite) {
  std::string op;
  std::string operand;
  int op_tokens = ComparisonAt(tokens, next, &op);
  int operand_tokens = op_tokens ? OperandAt(tokens, next + op_tokens, sql, &operand) : 0;
  if (!op_tokens || !operand_tokens) return 0;
  size_t last = next + op_tokens + operand_tokens - 1;
  // "<>" and "!=" are the negation of "=", whose bound serves both.
  std::string bound_op = op == "<>" || op == "!=" ? "=" : op;
  rewrite->Replace(rowid.from, tokens[last].end,
                   rowid.column + " " + op + " rowflume_rowid_number(" + operand + ", '" +
                       bound_op + "', " + rowid.table_arguments + ")");
  return last;
}

// ROWID [NOT] BETWEEN two binds or literals (from tokens[next]): a rowid range. Returns the index
// of the last token taken, 0 when it is no such range.
size_t RewriteRowidBetween(const std::vector<Token>& tokens, size_t next, const std::string& sql,
                           const RowidReference& rowid, Rewrite* rewrite) {
  bool negated = next < tokens.size() && IsWord(tokens[next], "NOT");
  size_t between = negated ? next + 1 : next;
  if (between >= tokens.size() || !IsWord(tokens[between], "BETWEEN")) return 0;
  std::string low;
  std::string high;
  int low_tokens = OperandAt(tokens, between + 1, sql, &low);
  size_t and_idx = between + 1 + static_cast<size_t>(low_tokens);
  int high_tokens = low_tokens && and_idx < tokens.size() && IsWord(tokens[and_idx], "AND")
                        ? OperandAt(tokens, and_idx + 1, sql, &high)
                        : 0;
  if (!high_tokens) return 0;
  size_t last = and_idx + static_cast<size_t>(high_tokens);
  rewrite->Replace(rowid.from, tokens[last].end,
                   rowid.column + (negated ? " NOT" : "") + " BETWEEN rowflume_rowid_number(" +
                       low + ", '>=', " + rowid.table_arguments + ") AND rowflume_rowid_number(" +
                       high + ", '<=', " + rowid.table_arguments + ")");
  return last;
}

// Rewrites the ROWID at tokens[idx] as RewriteOracleForms says. Returns the index of the last
// token it took: idx itself, or the end of a comparison or range it rewrote whole.
size_t RewriteRowid(const std::vector<Token>& tokens, size_t idx, const ClauseState& clauses,
                    Rewrite* rewrite) {
  const Token& token = tokens[idx];
  if (idx > 0 && IsPunct(tokens[idx - 1], '.') && (idx < 2 || !IsName(tokens[idx - 2]))) {
    return idx;
  }
  const std::string& sql = rewrite->source();
  std::string qualifier;
  size_t from = token.start;
  if (idx >= 2 && IsPunct(tokens[idx - 1], '.')) {
    qualifier = tokens[idx - 2].text;
    from = tokens[idx - 2].start;
    // owner.table.ROWID: the owner belongs to the column reference too
    if (idx >= 4 && IsPunct(tokens[idx - 3], '.') && IsName(tokens[idx - 4])) {
      from = tokens[idx - 4].start;
    }
    // the qualifier was copied already: take the output back to its start
    if (rewrite->copied() > from) return idx;
  }
  TableName table = RowidTable(tokens, qualifier);
  const RowidReference rowid = {from, sql.substr(from, token.start - from) + "_rowid_",
                                Quoted(table.owner, '\'') + ", " + Quoted(table.table, '\'')};
  size_t next = idx + 1;
  if (size_t last = RewriteRowidComparison(tokens, next, sql, rowid, rewrite); last != 0) {
    return last;
  }
  if (size_t last = RewriteRowidBetween(tokens, next, sql, rowid, rewrite); last != 0) return last;
  if (clauses.order_by_depth >= 0 && clauses.order_by_depth == clauses.depth) {
    rewrite->Replace(from, token.end, rowid.column);
    return idx;
  }
  std::string text = "rowflume_rowid_text(" + rowid.table_arguments + ", " + rowid.column + ")";
  // A select-list ROWID without alias keeps its name.
  if (clauses.select_list_depth == clauses.depth &&
      (next >= tokens.size() || IsPunct(tokens[next], ',') || IsWord(tokens[next], "FROM"))) {
    text += " AS \"ROWID\"";
  }
  rewrite->Replace(from, token.end, text);
  return idx;
}

}  // namespace

int64_t ScnLiteral(std::string_view digits, bool negative) {
  if (negative || digits.empty()) return 0;
  int64_t value = 0;
  for (char ch : digits) {
    if (!IsAsciiDigit(ch) || value > (INT64_MAX - 9) / 10) return 0;
    value = value * 10 + (ch - '0');
  }
  return value;
}

void TakeFlashbackForms(StatementPlan* plan) {
  std::vector<Token> tokens;
  if (!Tokenize(plan->sql, &tokens)) return;
  Rewrite rewrite(plan->sql);
  for (size_t idx = 0; idx < tokens.size(); ++idx) {
    const Token& token = tokens[idx];
    if (IsName(token) && EqualIgnoringCase(token.text, "V$DATABASE")) plan->reads_scn = true;
    if (IsWord(token, "AS") && idx + 2 < tokens.size() && IsWord(tokens[idx + 1], "OF") &&
        IsWord(tokens[idx + 2], "SCN")) {
      size_t number = idx + 3;
      bool negative = false;
      if (number < tokens.size() &&
          (IsPunct(tokens[number], '-') || IsPunct(tokens[number], '+'))) {
        negative = tokens[number].text[0] == '-';
        ++number;
      }
      if (number >= tokens.size() || tokens[number].kind != Scanner::kWord) {
        plan->refusal = &ora::kInvalidScn;
        return;
      }
      plan->as_of_scns.push_back(ScnLiteral(tokens[number].text, negative));
      rewrite.Replace(token.start, tokens[number].end, "");
      idx = number;
      continue;
    }
    // [SYS.]DBMS_FLASHBACK.GET_SYSTEM_CHANGE_NUMBER[()]
    size_t package = idx;
    if (IsWord(token, "SYS") && idx + 1 < tokens.size() && IsPunct(tokens[idx + 1], '.')) {
      package = idx + 2;
    }
    if (package + 2 < tokens.size() && IsWord(tokens[package], "DBMS_FLASHBACK") &&
        IsPunct(tokens[package + 1], '.') &&
        IsWord(tokens[package + 2], "GET_SYSTEM_CHANGE_NUMBER")) {
      size_t last = package + 2;
      if (last + 2 < tokens.size() && IsPunct(tokens[last + 1], '(') &&
          IsPunct(tokens[last + 2], ')')) {
        last += 2;
      }
      rewrite.Replace(token.start, tokens[last].end, "rowflume_current_scn()");
      plan->reads_scn = true;
      idx = last;
    }
  }
  rewrite.Finish(&plan->sql);
}

void RewriteOracleForms(StatementPlan* plan) {
  std::vector<Token> tokens;
  if (!Tokenize(plan->sql, &tokens)) return;
  Rewrite rewrite(plan->sql);
  ClauseState clauses;
  std::vector<size_t> note_closes;  // brackets closing a wrapped aggregate argument, innermost last
  for (size_t idx = 0; idx < tokens.size(); ++idx) {
    const Token& token = tokens[idx];
    NoteAggregateNulls(tokens, idx, &rewrite, &note_closes);
    TrackClauses(tokens, idx, &clauses);
    if (IsWord(token, "PARTITION") && idx + 1 < tokens.size() &&
        (IsPunct(tokens[idx + 1], '(') || IsWord(tokens[idx + 1], "FOR"))) {
      plan->refusal = &ora::kPartitionDoesNotExist;
      return;
    }
    if (IsWord(token, "DBMS_ROWID") && idx + 2 < tokens.size() && IsPunct(tokens[idx + 1], '.') &&
        IsWord(tokens[idx + 2], "ROWID_CREATE")) {
      rewrite.Replace(token.start, tokens[idx + 2].end, "rowflume_rowid_create");
      idx += 2;
      continue;
    }
    if (IsWord(token, "ROWID")) idx = RewriteRowid(tokens, idx, clauses, &rewrite);
  }
  if (plan->stmt_type == kStmtSelect) FindRowidItems(tokens, plan);
  rewrite.Finish(&plan->sql);
}

}  // namespace rowflume::engine
