// Thrift's compact protocol, as much of it as Parquet's page headers and footer need: a writer
// of fields, lists and structs appending to a byte string, and a reader of field headers and
// integers that skips what its caller does not know, never reading past the end of its bytes.
// What the fields mean is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rowflume {

// The protocol's type codes, as they appear in field and list headers.
enum class ThriftType : uint8_t {
  kStop = 0,
  kTrue = 1,  // a boolean field's header carries its value
  kFalse = 2,
  kByte = 3,
  kI16 = 4,
  kI32 = 5,
  kI64 = 6,
  kDouble = 7,
  kBinary = 8,
  kList = 9,
  kSet = 10,
  kMap = 11,
  kStruct = 12,
};

constexpr int kThriftMaxDepth = 16;  // structs open at once: Parquet's footer needs six

struct ThriftOut {
  std::string* bytes;                   // appended to
  int16_t last_field[kThriftMaxDepth];  // field ids are sent as deltas from the struct's last
  int depth;                            // structs open
};

void ThriftStart(ThriftOut* out, std::string* bytes);

// Fields of the innermost open struct, in increasing id order.
void ThriftI16(ThriftOut* out, int16_t id, int16_t value);
void ThriftI32(ThriftOut* out, int16_t id, int32_t value);
void ThriftI64(ThriftOut* out, int16_t id, int64_t value);
void ThriftBool(ThriftOut* out, int16_t id, bool value);
void ThriftBinary(ThriftOut* out, int16_t id, const void* data, size_t count);
inline void ThriftString(ThriftOut* out, int16_t id, const std::string& text) {
  ThriftBinary(out, id, text.data(), text.size());
}
// A struct field: its fields follow, then ThriftEnd.
void ThriftStructField(ThriftOut* out, int16_t id);
// A list field of count elements of that type; each follows as a list element below.
void ThriftListField(ThriftOut* out, int16_t id, ThriftType element, size_t count);

// List elements (and the outermost struct, which has no field header).
void ThriftBeginStruct(ThriftOut* out);
void ThriftElementI32(ThriftOut* out, int32_t value);
void ThriftElementBinary(ThriftOut* out, const void* data, size_t count);
// Ends the innermost open struct.
void ThriftEnd(ThriftOut* out);

struct ThriftIn {
  const uint8_t* at;   // next byte to read
  const uint8_t* end;  // one past the last byte
};

// Reads the next field header of a struct whose last field id is *last: *type is kStop at the
// struct's stop byte. False when the bytes end or make no sense.
bool ThriftNextField(ThriftIn* in, int16_t* last, int16_t* id, ThriftType* type);
// An I16, I32 or I64 value.
bool ThriftReadInt(ThriftIn* in, int64_t* value);
// Skips a value of that type, nested structs and containers included. False when the bytes
// end first, nest deeper than kThriftMaxDepth or hold a type code the protocol has not.
bool ThriftSkip(ThriftIn* in, ThriftType type, int depth = 0);

}  // namespace rowflume
