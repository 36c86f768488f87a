#include "output/thrift_compact.h"

#include <cassert>
#include <cstring>

namespace rowflume {
namespace {

void PutVarint(std::string* bytes, uint64_t value) {
  while (value >= 0x80) {
    bytes->push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  bytes->push_back(static_cast<char>(value));
}

// Signed integers travel zigzag encoded, so that small negative numbers stay short.
uint64_t Zigzag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

void PutFieldHeader(ThriftOut* out, int16_t id, ThriftType type) {
  assert(out->depth > 0);
  int16_t& last = out->last_field[out->depth - 1];
  int delta = id - last;
  if (delta > 0 && delta <= 15) {
    out->bytes->push_back(static_cast<char>((delta << 4) | static_cast<int>(type)));
  } else {
    out->bytes->push_back(static_cast<char>(type));
    PutVarint(out->bytes, Zigzag(id));
  }
  last = id;
}

void PutBinary(std::string* bytes, const void* data, size_t count) {
  PutVarint(bytes, count);
  bytes->append(static_cast<const char*>(data), count);
}

bool ReadVarint(ThriftIn* in, uint64_t* value) {
  uint64_t result = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in->at == in->end) return false;
    uint8_t byte = *in->at++;
    result |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) {
      *value = result;
      return true;
    }
  }
  return false;
}

bool SkipBytes(ThriftIn* in, uint64_t count) {
  if (count > static_cast<uint64_t>(in->end - in->at)) return false;
  in->at += count;
  return true;
}

bool ValidType(int code) {
  return code >= 1 && code <= 12;
}

// Skips the elements of a list or set whose header has been read.
bool SkipElements(ThriftIn* in, uint64_t count, ThriftType type, int depth) {
  for (uint64_t idx = 0; idx < count; ++idx) {
    // A boolean element is one byte, not a field header's type code.
    if (type == ThriftType::kTrue || type == ThriftType::kFalse) {
      if (!SkipBytes(in, 1)) return false;
    } else if (!ThriftSkip(in, type, depth + 1)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void ThriftStart(ThriftOut* out, std::string* bytes) {
  out->bytes = bytes;
  out->depth = 0;
}

void ThriftI16(ThriftOut* out, int16_t id, int16_t value) {
  PutFieldHeader(out, id, ThriftType::kI16);
  PutVarint(out->bytes, Zigzag(value));
}

void ThriftI32(ThriftOut* out, int16_t id, int32_t value) {
  PutFieldHeader(out, id, ThriftType::kI32);
  PutVarint(out->bytes, Zigzag(value));
}

void ThriftI64(ThriftOut* out, int16_t id, int64_t value) {
  PutFieldHeader(out, id, ThriftType::kI64);
  PutVarint(out->bytes, Zigzag(value));
}

void ThriftBool(ThriftOut* out, int16_t id, bool value) {
  PutFieldHeader(out, id, value ? ThriftType::kTrue : ThriftType::kFalse);
}

void ThriftBinary(ThriftOut* out, int16_t id, const void* data, size_t count) {
  PutFieldHeader(out, id, ThriftType::kBinary);
  PutBinary(out->bytes, data, count);
}

void ThriftStructField(ThriftOut* out, int16_t id) {
  PutFieldHeader(out, id, ThriftType::kStruct);
  ThriftBeginStruct(out);
}

void ThriftListField(ThriftOut* out, int16_t id, ThriftType element, size_t count) {
  PutFieldHeader(out, id, ThriftType::kList);
  int code = static_cast<int>(element);
  if (count < 15) {
    out->bytes->push_back(static_cast<char>((count << 4) | code));
  } else {
    out->bytes->push_back(static_cast<char>(0xf0 | code));
    PutVarint(out->bytes, count);
  }
}

void ThriftBeginStruct(ThriftOut* out) {
  assert(out->depth < kThriftMaxDepth);
  out->last_field[out->depth++] = 0;
}

void ThriftElementI32(ThriftOut* out, int32_t value) {
  PutVarint(out->bytes, Zigzag(value));
}

void ThriftElementBinary(ThriftOut* out, const void* data, size_t count) {
  PutBinary(out->bytes, data, count);
}

void ThriftEnd(ThriftOut* out) {
  assert(out->depth > 0);
  out->bytes->push_back(static_cast<char>(ThriftType::kStop));
  --out->depth;
}

bool ThriftNextField(ThriftIn* in, int16_t* last, int16_t* id, ThriftType* type) {
  *type = ThriftType::kStop;
  if (in->at == in->end) return false;
  uint8_t header = *in->at++;
  if (header == 0) return true;
  int code = header & 0x0f;
  if (!ValidType(code)) return false;
  int delta = header >> 4;
  if (delta != 0) {
    *id = static_cast<int16_t>(*last + delta);
  } else {
    int64_t explicit_id;
    if (!ThriftReadInt(in, &explicit_id) || explicit_id < INT16_MIN || explicit_id > INT16_MAX) {
      return false;
    }
    *id = static_cast<int16_t>(explicit_id);
  }
  *last = *id;
  *type = static_cast<ThriftType>(code);
  return true;
}

bool ThriftReadInt(ThriftIn* in, int64_t* value) {
  uint64_t raw;
  if (!ReadVarint(in, &raw)) return false;
  *value = static_cast<int64_t>(raw >> 1) ^ -static_cast<int64_t>(raw & 1);
  return true;
}

bool ThriftSkip(ThriftIn* in, ThriftType type, int depth) {
  if (depth > kThriftMaxDepth) return false;
  uint64_t count;
  switch (type) {
    case ThriftType::kTrue:
    case ThriftType::kFalse:
      return true;  // the value was in the field header
    case ThriftType::kByte:
      return SkipBytes(in, 1);
    case ThriftType::kI16:
    case ThriftType::kI32:
    case ThriftType::kI64:
      return ReadVarint(in, &count);
    case ThriftType::kDouble:
      return SkipBytes(in, 8);
    case ThriftType::kBinary:
      return ReadVarint(in, &count) && SkipBytes(in, count);
    case ThriftType::kList:
    case ThriftType::kSet: {
      if (in->at == in->end) return false;
      uint8_t header = *in->at++;
      count = header >> 4;
      if (count == 15 && !ReadVarint(in, &count)) return false;
      if (!ValidType(header & 0x0f)) return false;
      return SkipElements(in, count, static_cast<ThriftType>(header & 0x0f), depth);
    }
    case ThriftType::kMap: {
      if (!ReadVarint(in, &count)) return false;
      if (count == 0) return true;
      if (in->at == in->end) return false;
      uint8_t kinds = *in->at++;
      if (!ValidType(kinds >> 4) || !ValidType(kinds & 0x0f)) return false;
      for (uint64_t idx = 0; idx < count; ++idx) {
        if (!SkipElements(in, 1, static_cast<ThriftType>(kinds >> 4), depth) ||
            !SkipElements(in, 1, static_cast<ThriftType>(kinds & 0x0f), depth)) {
          return false;
        }
      }
      return true;
    }
    case ThriftType::kStruct: {
      int16_t last = 0;
      int16_t id;
      ThriftType field;
      for (;;) {
        if (!ThriftNextField(in, &last, &id, &field)) return false;
        if (field == ThriftType::kStop) return true;
        if (!ThriftSkip(in, field, depth + 1)) return false;
      }
    }
    case ThriftType::kStop:
      break;
  }
  return false;
}

}  // namespace rowflume
