// Byte classes and letter case of plain ASCII, the same in every locale: option keywords, SQL
// words, hexadecimal digits and names are ASCII by definition, and the C library's <cctype>
// answers by the current locale (and is undefined for negative char values).
#pragma once

#include <cstddef>
#include <string_view>

namespace rowflume {

// Lower-case hexadecimal digits, indexed by their value.
inline constexpr char kLowerHexDigits[] = "0123456789abcdef";

// The white space of isspace in the "C" locale: blank, tab, line feed, vertical tab, form feed
// and carriage return.
constexpr bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

constexpr bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A character of an unquoted Oracle name after its first letter.
constexpr bool IsNameChar(char c) {
  return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == '$' || c == '#';
}

constexpr bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// 0 to 15 for a hexadecimal digit of either case; 0 for any other character.
constexpr int HexDigitValue(char c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

// Letter case of A to Z only; every other byte stays as it is.
constexpr char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equal over length bytes, ignoring the letter case of A to Z only.
constexpr bool EqualIgnoringCase(const char* a, const char* b, size_t length) {
  for (size_t pos = 0; pos < length; ++pos) {
    if (AsciiUpper(a[pos]) != AsciiUpper(b[pos])) return false;
  }
  return true;
}

// Same length and equal but for the letter case of A to Z.
constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && EqualIgnoringCase(a.data(), b.data(), a.size());
}

// True when text begins with word, letter case of A to Z ignored.
constexpr bool StartsWithIgnoringCase(std::string_view text, std::string_view word) {
  return text.size() >= word.size() && EqualIgnoringCase(text.data(), word.data(), word.size());
}

}  // namespace rowflume
