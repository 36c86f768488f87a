// The Oracle description of a column: what describe reports for it and how its values are
// converted, from its declared type name or, without one, from the storage class of its value.
#pragma once

#include <cstdint>

#include "oci/oci_api.h"

namespace rowflume::engine {

// How the engine converts a column's values: the family of its Oracle type.
enum class Family : uint8_t {
  kNumber,
  kBinaryFloat,   // BINARY_FLOAT: single precision, written in the client's scientific form
  kBinaryDouble,  // BINARY_DOUBLE: double precision, the same form
  kDate,
  kTimestamp,
  kTimestampTz,
  kTimestampLtz,
  kText,
  kBinary,
};

// What describe reports for one select-list column.
struct ColumnType {
  ub2 data_type;     // OCI_ATTR_DATA_TYPE
  ub2 data_size;     // OCI_ATTR_DATA_SIZE, bytes
  sb2 precision;     // OCI_ATTR_PRECISION
  sb1 scale;         // OCI_ATTR_SCALE
  ub1 charset_form;  // 1 database character set, 2 national, 0 none
  Family family;
  uint8_t fraction_digits;  // what FF prints for this column
  ub2 char_length;          // CHAR and NCHAR: the length in characters values are padded to
  ub2 char_size = 0;        // OCI_ATTR_CHAR_SIZE of character types; 0: data_size
};

// The description of a declared type written with Oracle's or SQLite's type names; false when
// there is no declared type (null or empty), so that the value decides.
bool TypeFromDeclared(const char* declared, ColumnType* out);
// The description of an expression by the storage class of its first value (SQLITE_INTEGER...,
// 0 when there is no row).
ColumnType TypeFromStorage(int storage_class);
// The description of the ROWID pseudo-column, and of columns declared ROWID: its 18-character
// text.
ColumnType RowidType();

}  // namespace rowflume::engine
