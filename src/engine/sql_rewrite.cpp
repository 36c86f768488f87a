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
  const std::string& sql = plan->sql;
  std::vector<Token> tokens;
  if (!Tokenize(sql, &tokens)) return;
  std::string out;
  size_t copied = 0;
  bool changed = false;
  auto replace = [&](size_t from, size_t to, const char* text) {
    out.append(sql, copied, from - copied);
    out += text;
    copied = to;
    changed = true;
  };
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
      replace(token.start, tokens[number].end, "");
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
      replace(token.start, tokens[last].end, "rowflume_current_scn()");
      plan->reads_scn = true;
      idx = last;
    }
  }
  if (!changed) return;
  out.append(sql, copied, std::string::npos);
  plan->sql = std::move(out);
}

void RewriteOracleForms(StatementPlan* plan) {
  const std::string& sql = plan->sql;
  std::vector<Token> tokens;
  if (!Tokenize(sql, &tokens)) return;
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
  // Brackets that close a wrapped aggregate argument, the innermost last.
  std::vector<size_t> note_closes;
  for (size_t idx = 0; idx < tokens.size(); ++idx) {
    const Token& token = tokens[idx];
    // An aggregate's argument passes through rowflume_null_note, which counts the NULLs the
    // aggregate skips: a fetch of its rows warns of them, as Oracle's does.
    if (!note_closes.empty() && note_closes.back() == idx) {
      replace(token.start, token.start, ")");
      note_closes.pop_back();
    }
    if (size_t argument = AggregateArgumentAt(tokens, idx); argument != 0) {
      size_t close = ClosingBracket(tokens, idx + 1);
      if (close != 0) {
        replace(tokens[argument].start, tokens[argument].start, "rowflume_null_note(");
        note_closes.push_back(close);
      }
    }
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
      plan->refusal = &ora::kPartitionDoesNotExist;
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
      // owner.table.ROWID: the owner belongs to the column reference too
      if (idx >= 4 && IsPunct(tokens[idx - 3], '.') && IsName(tokens[idx - 4])) {
        from = tokens[idx - 4].start;
      }
      // the qualifier was copied already: take the output back to its start
      if (copied > from) continue;
    }
    std::string column = sql.substr(from, token.start - from) + "_rowid_";
    TableName table = RowidTable(tokens, qualifier);
    std::string table_arguments = Quoted(table.owner, '\'') + ", " + Quoted(table.table, '\'');
    std::string op;
    std::string first;
    std::string second;
    size_t next = idx + 1;
    int op_tokens = ComparisonAt(tokens, next, &op);
    int operand_tokens = op_tokens ? OperandAt(tokens, next + op_tokens, sql, &first) : 0;
    if (op_tokens && operand_tokens) {
      size_t last = next + op_tokens + operand_tokens - 1;
      // "<>" and "!=" are the negation of "=", whose bound serves both.
      std::string bound_op = op == "<>" || op == "!=" ? "=" : op;
      replace(from, tokens[last].end,
              column + " " + op + " rowflume_rowid_number(" + first + ", '" + bound_op + "', " +
                  table_arguments + ")");
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
                    ", '>=', " + table_arguments + ") AND rowflume_rowid_number(" + second +
                    ", '<=', " + table_arguments + ")");
        idx = last;
        continue;
      }
    }
    if (order_by_depth >= 0 && order_by_depth == depth) {
      replace(from, token.end, column);
      continue;
    }
    std::string text = "rowflume_rowid_text(" + table_arguments + ", " + column + ")";
    // A select-list ROWID without alias keeps its name.
    if (select_list_depth == depth &&
        (next >= tokens.size() || IsPunct(tokens[next], ',') || IsWord(tokens[next], "FROM"))) {
      text += " AS \"ROWID\"";
    }
    replace(from, token.end, text);
  }
  if (plan->stmt_type == kStmtSelect) FindRowidItems(tokens, plan);
  if (!changed) return;
  out.append(sql, copied, std::string::npos);
  plan->sql = std::move(out);
}

}  // namespace rowflume::engine
