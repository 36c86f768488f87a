#include "engine/charsets.h"

#include <sqlite3.h>

#include <cstring>

#include "engine/engine.h"
#include "platform/platform.h"

namespace rowflume::engine {
namespace {

constexpr ub2 kUs7Ascii = 1;
constexpr ub2 kLatin1 = 31;  // WE8ISO8859P1
constexpr ub2 kUtf8 = 871;
constexpr ub2 kAl32Utf8 = 873;
constexpr char32_t kReplacement = 0xFFFD;

bool Known(ub2 id) {
  return id == kUs7Ascii || id == kLatin1 || id == kUtf8 || id == kAl32Utf8;
}

bool Unicode(ub2 id) {
  return id == kUtf8 || id == kAl32Utf8;
}

// The code point at text[*pos] of set id, advancing *pos past it.
char32_t Decode(ub2 id, const unsigned char* text, size_t len, size_t* pos) {
  const unsigned char lead = text[(*pos)++];
  if (!Unicode(id)) return id == kUs7Ascii && lead > 0x7F ? kReplacement : lead;
  if (lead < 0x80) return lead;
  int follow = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  if (follow < 0 || lead > 0xF4 || *pos + static_cast<size_t>(follow) > len) return kReplacement;
  char32_t point = lead & (0x3F >> follow);
  for (int idx = 0; idx < follow; ++idx) {
    const unsigned char next = text[*pos];
    if ((next & 0xC0) != 0x80) return kReplacement;
    point = (point << 6) | (next & 0x3F);
    ++*pos;
  }
  return point;
}

void Encode(ub2 id, char32_t point, std::string* out) {
  if (id == kUs7Ascii || id == kLatin1) {
    const char32_t limit = id == kUs7Ascii ? 0x7F : 0xFF;
    out->push_back(point <= limit ? static_cast<char>(point) : id == kUs7Ascii ? '?' : '\xBF');
    return;
  }
  if (point < 0x80) {
    out->push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (point >> 6)));
    out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

}  // namespace

ub2 DatabaseCharset(Server* server) {
  if (server->settings_read) return server->database_charset;
  server->settings_read = true;
  sqlite3_stmt* st = nullptr;
  // A database without the table declares nothing; the query then fails to prepare.
  if (sqlite3_prepare_v2(server->db,
                         "SELECT value FROM main.rowflume_settings"
                         " WHERE upper(name) = 'NLS_CHARACTERSET'",
                         -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(st, 0);
    if (name != nullptr) server->database_charset = NlsCharSetNameToId(nullptr, name);
  }
  sqlite3_finalize(st);
  return server->database_charset;
}

ub2 ColumnCharset(ub1 charset_form, Server* server) {
  constexpr ub2 kAl16Utf16 = 2000;
  if (charset_form == 2) return kAl16Utf16;
  if (charset_form != 1) return 0;
  const ub2 declared = server != nullptr && server->db != nullptr ? DatabaseCharset(server) : 0;
  return declared != 0 ? declared : kAl32Utf8;
}

ub2 StoredCharset(ub1 charset_form, Server* server) {
  return charset_form == 2 ? kAl32Utf8 : DatabaseCharset(server);
}

ub2 ClientCharset(const Env* env) {
  if (env->charset != 0) return env->charset;
  const char* nls_lang = EnvironmentValue("NLS_LANG");
  const char* dot = nls_lang != nullptr ? std::strrchr(nls_lang, '.') : nullptr;
  if (dot != nullptr) {
    ub2 id = NlsCharSetNameToId(nullptr, reinterpret_cast<const OraText*>(dot + 1));
    if (id != 0) return id;
  }
  return kAl32Utf8;
}

bool ClientIsUnicode(ub2 id) {
  return Unicode(id);
}

bool ConvertsText(ub2 from, ub2 to) {
  return from != to && Known(from) && Known(to) && !(Unicode(from) && Unicode(to));
}

void ConvertText(ub2 from, ub2 to, const char* text, size_t len, std::string* out) {
  out->clear();
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t pos = 0;
  while (pos < len) Encode(to, Decode(from, bytes, len, &pos), out);
}

}  // namespace rowflume::engine
