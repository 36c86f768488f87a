// The characters a session writes numbers with, as the client's settings name them: the decimal
// character of a territory, and what NLS_NUMERIC_CHARACTERS may hold. The number texts that use
// them are number.h's.
#pragma once

#include <string_view>

namespace rowflume::engine {

// The decimal character of a client whose NLS_LANG (LANGUAGE_TERRITORY.CHARSET, each part
// optional, letter case ignored) is the text given, null when it is not set: ',' for the
// territories that write a decimal comma, '.' for every other one and without a territory.
char TerritoryDecimalCharacter(const char* nls_lang);
// Whether text can be NLS_NUMERIC_CHARACTERS: a decimal character and a group separator, two
// different ASCII characters, neither a digit nor one of "+-<>".
bool IsNumericCharacters(std::string_view text);

}  // namespace rowflume::engine
