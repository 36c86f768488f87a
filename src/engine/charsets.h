// Character sets of the embedded engine: the set a database declares for its text, the client's
// set of an environment, and the conversion of text between them that a client does on fetch.
// Describing columns and framing values are not here.
#pragma once

#include <string>

#include "engine/handles.h"
#include "oci/oci_api.h"

namespace rowflume::engine {

// The set the database declares in rowflume_settings(name, value) under NLS_CHARACTERSET, read
// once per connection; 0 when it declares none (its text is passed on as stored).
ub2 DatabaseCharset(Server* server);

// The set of a column's stored text as describe reports it (OCI_ATTR_CHARSET_ID): the database's
// declared set, AL32UTF8 when it declares none (SQLite's text), for form 1; AL16UTF16 for the
// national form 2; 0 for data without characters.
ub2 ColumnCharset(ub1 charset_form, Server* server);

// The set a column's text is stored in as SQLite keeps it: the declared set (0 when none) for
// form 1, AL32UTF8 for the national form 2.
ub2 StoredCharset(ub1 charset_form, Server* server);

// The client's set: the one the environment was created with, else the one NLS_LANG names
// (LANGUAGE_TERRITORY.CHARSET), else AL32UTF8.
ub2 ClientCharset(const Env* env);

// True when text stored in set from reaches a client of set to changed: both known (US7ASCII,
// WE8ISO8859P1, UTF8, AL32UTF8) and different.
bool ConvertsText(ub2 from, ub2 to);

// True for the Unicode sets, whose text is UTF-8.
bool ClientIsUnicode(ub2 id);

// Text of set from in set to, into out (replaced). A character the target lacks becomes its
// replacement character ('?' in US7ASCII, an inverted question mark in WE8ISO8859P1), a byte
// sequence that is no character of the source the Unicode replacement character, as a client
// substitutes them.
void ConvertText(ub2 from, ub2 to, const char* text, size_t len, std::string* out);

}  // namespace rowflume::engine
