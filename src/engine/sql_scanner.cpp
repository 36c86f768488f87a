#include "engine/sql_scanner.h"

#include "common/ascii.h"

namespace rowflume::engine {

bool IsSqlWordChar(char ch) {
  return IsAsciiLetter(ch) || IsAsciiDigit(ch) || ch == '_' || ch == '$' || ch == '#';
}

Scanner::Kind Scanner::Next(std::string* token) {
  token->clear();
  SkipBlanks();
  start_ = pos_;
  if (pos_ >= len_) return kEnd;
  char ch = text_[pos_];
  if (IsSqlWordChar(ch)) {
    while (pos_ < len_ && IsSqlWordChar(text_[pos_])) token->push_back(text_[pos_++]);
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

void Scanner::SkipBlanks() {
  for (;;) {
    while (pos_ < len_ && IsSqlBlank(text_[pos_])) ++pos_;
    if (pos_ + 1 < len_ && text_[pos_] == '-' && text_[pos_ + 1] == '-') {
      while (pos_ < len_ && text_[pos_] != '\n') ++pos_;
    } else if (pos_ + 1 < len_ && text_[pos_] == '/' && text_[pos_ + 1] == '*') {
      pos_ += 2;
      while (pos_ + 1 < len_ && !(text_[pos_] == '*' && text_[pos_ + 1] == '/')) ++pos_;
      if (pos_ + 1 >= len_) comment_open_ = true;
      pos_ = pos_ + 2 < len_ ? pos_ + 2 : len_;
    } else {
      return;
    }
  }
}

std::string Quoted(const std::string& text, char quote) {
  std::string out(1, quote);
  for (char ch : text) {
    out.push_back(ch);
    if (ch == quote) out.push_back(quote);
  }
  out.push_back(quote);
  return out;
}

}  // namespace rowflume::engine
