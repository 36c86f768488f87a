// One fetched value into one row of a define: the conversion the define asks for and the
// framing of the bytes in the caller's buffer, with the row's indicator, length and return code.
#pragma once

#include <cstddef>

#include "engine/handles.h"

namespace rowflume::engine {

// The column-level outcome of a value cut short to fit its buffer (the row set as a whole then
// reports a truncation).
constexpr int kTruncated = 1406;

// Converts the current row's value of the define's column into row `row` of the define. Returns
// 0, kTruncated, or the Oracle error number of a value that cannot be delivered (a NULL without
// indicator among them).
int DeliverValue(Stmt* stmt, Define* define, size_t row);

}  // namespace rowflume::engine
