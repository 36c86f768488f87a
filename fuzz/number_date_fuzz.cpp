// Client-side NUMBER and DATE texts on arbitrary bytes. Any input must stay inside the scratch
// area and give only sign, digits and a point; a well-formed NUMBER must give the text of an
// independent decoder that places every base-100 pair at its power of ten, and a valid DATE must
// give back its fields.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "output/oracle_values.h"

namespace rowflume::fuzz {
namespace {

// The base-100 pairs of a NUMBER with its exponent and sign; false for bytes that are not a
// canonical NUMBER (pairs out of range, a missing terminator, a trailing zero pair).
struct Pairs {
  bool negative = false;
  int exponent = 0;
  std::vector<int> pairs;
};

bool ReadPairs(const std::vector<uint8_t>& bytes, Pairs* out) {
  size_t n = bytes.size();
  // 0x80 with digits after it is the exponent of the smallest positive values (1E-130 up).
  if (n < 2 || n > 21) return false;
  out->negative = (bytes[0] & 0x80) == 0;
  size_t end = n;
  if (out->negative) {
    // A negative number shorter than 21 bytes ends with the terminator 102.
    if (n < 21) {
      if (bytes[n - 1] != 102) return false;
      end = n - 1;
    } else if (bytes[20] == 102) {
      end = 20;
    }
    out->exponent = 63 - bytes[0];
  } else {
    out->exponent = bytes[0] - 192;
  }
  if (end < 2) return false;
  for (size_t k = 1; k < end; ++k) {
    int pair = out->negative ? 101 - bytes[k] : bytes[k] - 1;
    if (pair < 0 || pair > 99) return false;
    out->pairs.push_back(pair);
  }
  return out->pairs.front() != 0 && out->pairs.back() != 0;
}

// Every pair k (from 1) stands for pair x 100^(exponent - k): its two digits go to the powers of
// ten 2(exponent - k) + 1 and 2(exponent - k). The text is the integer part without leading
// zeros ("0" when there is none) and, when the lowest power is negative, a point and every
// fraction digit down to it.
std::string ReferenceNumber(const Pairs& number) {
  int low_power = 2 * (number.exponent - static_cast<int>(number.pairs.size()));
  int high_power = 2 * (number.exponent - 1) + 1;
  int top = high_power > 0 ? high_power : 0;
  int bottom = low_power < 0 ? low_power : 0;
  std::vector<int> digit(static_cast<size_t>(top - bottom + 1), 0);
  for (size_t k = 0; k < number.pairs.size(); ++k) {
    int power = 2 * (number.exponent - static_cast<int>(k) - 1);
    digit[static_cast<size_t>(power + 1 - bottom)] = number.pairs[k] / 10;
    digit[static_cast<size_t>(power - bottom)] = number.pairs[k] % 10;
  }
  std::string text = number.negative ? "-" : "";
  int power = top;
  while (power > 0 && digit[static_cast<size_t>(power - bottom)] == 0) --power;
  for (; power >= 0; --power)
    text += static_cast<char>('0' + digit[static_cast<size_t>(power - bottom)]);
  if (bottom < 0) {
    text += '.';
    for (power = -1; power >= bottom; --power) {
      text += static_cast<char>('0' + digit[static_cast<size_t>(power - bottom)]);
    }
  }
  return text;
}

void CheckNumber(const std::vector<uint8_t>& bytes) {
  // The value and the text area in heap blocks of their exact sizes: a read or write past either
  // is caught.
  auto value = std::make_unique<uint8_t[]>(bytes.size() + 1);
  if (!bytes.empty()) std::memcpy(value.get(), bytes.data(), bytes.size());
  auto text = std::make_unique<char[]>(kNumberTextBytes);
  int length = FormatOracleNumber(text.get(), value.get(), static_cast<int>(bytes.size()));
  FUZZ_CHECK(length >= 0 && length < kNumberTextBytes);
  FUZZ_CHECK((length == 0) == bytes.empty());
  std::string got(text.get(), static_cast<size_t>(length));
  for (size_t pos = 0; pos < got.size(); ++pos) {
    char c = got[pos];
    FUZZ_CHECK((c >= '0' && c <= '9') || c == '.' || (c == '-' && pos == 0));
  }
  if (bytes.size() == 1 && bytes[0] == 0x80) FUZZ_CHECK(got == "0");
  Pairs pairs;
  if (ReadPairs(bytes, &pairs)) FUZZ_CHECK(got == ReferenceNumber(pairs));
}

void CheckDate(const std::vector<uint8_t>& bytes) {
  auto value = std::make_unique<uint8_t[]>(bytes.size() + 1);
  if (!bytes.empty()) std::memcpy(value.get(), bytes.data(), bytes.size());
  // The area the documented size gives: a date before year 0 takes all 20 bytes, no NUL is written.
  auto text = std::make_unique<char[]>(kDateTextBytes);
  int length = FormatOracleDate(text.get(), value.get(), static_cast<int>(bytes.size()));
  if (bytes.size() < 7) {
    FUZZ_CHECK(length == 0);
    return;
  }
  FUZZ_CHECK(length == 19 || (length == 20 && text[0] == '-'));
  std::string got(text.get(), static_cast<size_t>(length));
  std::string body = got.substr(got.size() - 19);
  const char* pattern = "dddd-dd-dd dd:dd:dd";
  for (size_t pos = 0; pos < 19; ++pos) {
    if (pattern[pos] == 'd') {
      FUZZ_CHECK(body[pos] >= '0' && body[pos] <= '9');
    } else {
      FUZZ_CHECK(body[pos] == pattern[pos]);
    }
  }
  // A date Oracle can hold (years -4712 to 9999) must be read back field by field.
  int year = (bytes[0] - 100) * 100 + (bytes[1] - 100);
  bool valid = bytes[0] >= 53 && bytes[1] >= 100 && bytes[1] <= 199 && year >= -4712 &&
               year <= 9999 && bytes[2] >= 1 && bytes[2] <= 12 && bytes[3] >= 1 && bytes[3] <= 31 &&
               bytes[4] >= 1 && bytes[4] <= 24 && bytes[5] >= 1 && bytes[5] <= 60 &&
               bytes[6] >= 1 && bytes[6] <= 60;
  if (!valid) return;
  auto field = [&](size_t pos, size_t digits) { return std::stoi(body.substr(pos, digits)); };
  FUZZ_CHECK((year < 0) == (length == 20));
  FUZZ_CHECK(field(0, 4) == (year < 0 ? -year : year));
  FUZZ_CHECK(field(5, 2) == bytes[2] && field(8, 2) == bytes[3]);
  FUZZ_CHECK(field(11, 2) == bytes[4] - 1 && field(14, 2) == bytes[5] - 1 &&
             field(17, 2) == bytes[6] - 1);
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume::fuzz;
  Input input(data, size);
  bool as_date = input.Flag();
  std::string rest = input.Rest();
  std::vector<uint8_t> bytes(rest.begin(), rest.end());
  if (as_date) {
    CheckDate(bytes);
  } else {
    CheckNumber(bytes);
  }
  return 0;
}
