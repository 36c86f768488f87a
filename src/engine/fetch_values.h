// One fetched value into one row of a define: the conversion the define asks for and the
// framing of the bytes in the caller's buffer, with the row's indicator, length and return code.
#pragma once

#include <cstddef>

#include "engine/handles.h"
#include "engine/ora_errors.h"

namespace rowflume::engine {

// Converts the current row's value of the define's column into row `row` of the define. Returns
// null when the value is delivered whole, &ora::kFetchedColumnTruncated when it was cut short to
// fit, or the error of a value that cannot be delivered (a NULL without indicator among them).
const OraError* DeliverValue(Stmt* stmt, Define* define, size_t row);

}  // namespace rowflume::engine
