// How the embedded engine divides SQL text and declared type names into words: the bytes between
// words, the bytes of words, and a scanner of words, quoted names, strings and punctuation.
#pragma once

#include <cstddef>
#include <string>

namespace rowflume::engine {

// The blanks between words: blank, tab, line feed, carriage return and form feed. Unlike
// IsAsciiSpace, a vertical tab is not one of them: it stays a character of its own, so
// "NUMBER\v(5)" is an unconstrained NUMBER and "\v" a punctuation token.
constexpr bool IsSqlBlank(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f';
}

// Letters, digits, '_', '$' and '#': the bytes of unquoted names and keywords.
bool IsSqlWordChar(char ch);

// A tokenizer of statement text: words, quoted names, strings and single punctuation characters;
// comments are skipped as blanks.
class Scanner {
 public:
  Scanner(const char* text, size_t len) : text_(text), len_(len) {}

  // kBad is a quote left open at the end of the text.
  enum Kind { kEnd, kWord, kQuotedName, kString, kPunct, kBad };

  // Just past the last token read.
  size_t Position() const { return pos_; }
  // Where the last token read begins.
  size_t TokenStart() const { return start_; }

  // Reads the next token into `token` (a quoted name or string without its quotes, a doubled
  // quote inside read as one).
  Kind Next(std::string* token);

  // Whether the text ended inside a /* comment, which Oracle refuses and SQLite does not.
  bool CommentOpen() const { return comment_open_; }

 private:
  void SkipBlanks();

  const char* text_;
  size_t len_;
  size_t pos_ = 0;
  size_t start_ = 0;
  bool comment_open_ = false;
};

// Text as a statement writes it between quotes (' for a string, " for a name), each quote inside
// doubled: what Scanner::Next reads back as one token.
std::string Quoted(const std::string& text, char quote);

}  // namespace rowflume::engine
