// The engine's SQL scanner and its rewriter of Oracle forms on arbitrary text. Every token must
// be the source bytes it covers (a quoted one as Quoted writes it back), with only blanks and
// comments between tokens. A rewrite must keep every token of the statement, in order, but the
// ROWID forms it replaces; keep the brackets balanced as they were and the text readable; and
// change nothing when it refuses the statement or finds nothing to rewrite. The whole statement
// inspection then runs on the same text.
#include <cstdint>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "engine/sql_rewrite.h"
#include "engine/sql_scanner.h"
#include "engine/sql_text.h"
#include "fuzz/fuzz_input.h"

namespace rowflume::fuzz {
namespace {

using engine::Scanner;

struct Token {
  Scanner::Kind kind;
  std::string text;
  size_t start;
  size_t end;
};

// The blanks and comments between two tokens: nothing else may lie there. A comment left open
// runs to the end of the text.
bool OnlyBlanksAndComments(const std::string& sql, size_t from, size_t to, bool at_end) {
  size_t pos = from;
  while (pos < to) {
    if (engine::IsSqlBlank(sql[pos])) {
      ++pos;
    } else if (sql.compare(pos, 2, "--") == 0 && pos + 1 < to) {
      while (pos < to && sql[pos] != '\n') ++pos;
    } else if (sql.compare(pos, 2, "/*") == 0 && pos + 1 < to) {
      const size_t close = sql.find("*/", pos + 2);
      if (close == std::string::npos || close + 2 > to) return at_end && to == sql.size();
      pos = close + 2;
    } else {
      return false;
    }
  }
  return true;
}

// Scans the text, checking each token against the bytes it covers. False when a quote is left
// open (kBad), which must then start the rest of the text.
bool ScanChecked(const std::string& sql, std::vector<Token>* tokens) {
  Scanner scanner(sql.data(), sql.size());
  size_t previous_end = 0;
  Token token;
  for (;;) {
    token.kind = scanner.Next(&token.text);
    const size_t start = scanner.TokenStart();
    const size_t end = scanner.Position();
    FUZZ_CHECK(previous_end <= start && start <= end && end <= sql.size());
    FUZZ_CHECK(OnlyBlanksAndComments(sql, previous_end, start, token.kind == Scanner::kEnd));
    const std::string covered = sql.substr(start, end - start);
    switch (token.kind) {
      case Scanner::kEnd:
        FUZZ_CHECK(start == sql.size());
        return true;
      case Scanner::kBad:
        FUZZ_CHECK(sql[start] == '\'' || sql[start] == '"');
        return false;
      case Scanner::kWord:
        FUZZ_CHECK(token.text == covered && !token.text.empty());
        for (char ch : token.text) FUZZ_CHECK(engine::IsSqlWordChar(ch));
        FUZZ_CHECK(end == sql.size() || !engine::IsSqlWordChar(sql[end]));
        break;
      case Scanner::kQuotedName:
        FUZZ_CHECK(engine::Quoted(token.text, '"') == covered);
        break;
      case Scanner::kString:
        FUZZ_CHECK(engine::Quoted(token.text, '\'') == covered);
        break;
      case Scanner::kPunct:
        FUZZ_CHECK(token.text == covered && token.text.size() == 1);
        FUZZ_CHECK(!engine::IsSqlWordChar(covered[0]) && !engine::IsSqlBlank(covered[0]));
        FUZZ_CHECK(covered[0] != '\'' && covered[0] != '"');
        break;
    }
    token.start = start;
    token.end = end;
    tokens->push_back(token);
    previous_end = end;
  }
}

bool IsWord(const Token& token, const char* upper) {
  return token.kind == Scanner::kWord && EqualIgnoringCase(token.text, upper);
}

// The tokens a rewrite may take out: the ROWID pseudo-column, DBMS_ROWID.ROWID_CREATE and the
// points between names.
bool MayBeReplaced(const Token& token) {
  return IsWord(token, "ROWID") || IsWord(token, "DBMS_ROWID") || IsWord(token, "ROWID_CREATE") ||
         (token.kind == Scanner::kPunct && token.text == ".");
}

// Whether the text has a form RewriteOracleForms rewrites: a ROWID word, DBMS_ROWID, or an
// aggregate whose argument it wraps.
bool HasRewritableForm(const std::vector<Token>& tokens) {
  for (const Token& token : tokens) {
    if (IsWord(token, "ROWID") || IsWord(token, "DBMS_ROWID") || IsWord(token, "MAX") ||
        IsWord(token, "MIN") || IsWord(token, "SUM") || IsWord(token, "AVG")) {
      return true;
    }
  }
  return false;
}

// Words in any letter case (a rewrite writes the keywords it keeps, as NOT BETWEEN, its own way).
bool SameToken(const Token& a, const Token& b) {
  if (a.kind != b.kind) return false;
  return a.kind == Scanner::kWord ? EqualIgnoringCase(a.text, b.text) : a.text == b.text;
}

int BracketBalance(const std::vector<Token>& tokens) {
  int balance = 0;
  for (const Token& token : tokens) {
    if (token.kind != Scanner::kPunct) continue;
    balance += token.text == "(" ? 1 : token.text == ")" ? -1 : 0;
  }
  return balance;
}

void CheckRewrite(const std::string& sql, const std::vector<Token>& tokens, ub2 stmt_type) {
  engine::StatementPlan plan;
  plan.stmt_type = stmt_type;
  plan.sql = sql;
  engine::RewriteOracleForms(&plan);
  bool partition = false;
  for (const Token& token : tokens) partition = partition || IsWord(token, "PARTITION");
  FUZZ_CHECK(plan.refusal == nullptr || partition);
  if (plan.refusal != nullptr || !HasRewritableForm(tokens)) {
    FUZZ_CHECK(plan.sql == sql);
    return;
  }
  std::vector<Token> rewritten;
  FUZZ_CHECK(ScanChecked(plan.sql, &rewritten));
  FUZZ_CHECK(BracketBalance(rewritten) == BracketBalance(tokens));
  // Every token but those a ROWID form replaces is found again, in order.
  size_t found = 0;
  for (const Token& token : tokens) {
    if (MayBeReplaced(token)) continue;
    while (found < rewritten.size() && !SameToken(rewritten[found], token)) ++found;
    FUZZ_CHECK(found < rewritten.size());
    ++found;
  }
}

// The statement types whose text RewriteOracleForms reads, chosen by one byte.
ub2 StatementType(uint8_t choice) {
  static constexpr ub2 kTypes[] = {engine::kStmtSelect, engine::kStmtUpdate, engine::kStmtDelete};
  return kTypes[choice % 3];
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume::fuzz;
  if (size > 8192) return 0;  // statements longer than this only repeat forms
  Input input(data, size);
  const auto stmt_type = StatementType(input.Byte());
  const std::string sql = input.Rest();
  std::vector<Token> tokens;
  if (ScanChecked(sql, &tokens)) CheckRewrite(sql, tokens, stmt_type);
  rowflume::engine::StatementPlan plan;
  rowflume::engine::InspectStatement(sql.data(), sql.size(), &plan);
  return 0;
}
