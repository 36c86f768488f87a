#include "engine/nls_numeric.h"

#include "common/ascii.h"

namespace rowflume::engine {
namespace {

// Territories whose numbers are written with a decimal comma, as NLS_LANG names them.
constexpr const char* kCommaTerritories[] = {
    "ARGENTINA", "AUSTRIA",   "BELGIUM",        "BRAZIL",      "BULGARIA", "CATALONIA", "CHILE",
    "COLOMBIA",  "CROATIA",   "CZECH REPUBLIC", "DENMARK",     "ECUADOR",  "ESTONIA",   "FINLAND",
    "FRANCE",    "GERMANY",   "GREECE",         "HUNGARY",     "ICELAND",  "INDONESIA", "ITALY",
    "LATVIA",    "LITHUANIA", "LUXEMBOURG",     "NETHERLANDS", "NORWAY",   "POLAND",    "PORTUGAL",
    "ROMANIA",   "RUSSIA",    "SLOVAKIA",       "SLOVENIA",    "SPAIN",    "SWEDEN",    "TURKEY",
    "UKRAINE",   "URUGUAY",   "VENEZUELA",
};

}  // namespace

char TerritoryDecimalCharacter(const char* nls_lang) {
  if (nls_lang == nullptr) return '.';
  const std::string_view text(nls_lang);
  const size_t underscore = text.find('_');
  if (underscore == std::string_view::npos) return '.';
  std::string_view territory = text.substr(underscore + 1);
  territory = territory.substr(0, territory.find('.'));
  for (const char* name : kCommaTerritories) {
    if (EqualIgnoringCase(territory, name)) return ',';
  }
  return '.';
}

bool IsNumericCharacters(std::string_view text) {
  auto allowed = [](char ch) {
    return (static_cast<unsigned char>(ch) & 0x80) == 0 && !IsAsciiDigit(ch) && ch != '+' &&
           ch != '-' && ch != '<' && ch != '>';
  };
  return text.size() == 2 && text[0] != text[1] && allowed(text[0]) && allowed(text[1]);
}

}  // namespace rowflume::engine
