#include "scramble/des3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace rowflume {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t pos = 0; pos + 1 < hex.size(); pos += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(pos, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < count; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 15];
  }
  return hex;
}

// Runs every 8-byte block of data through the cipher under a 24-byte key.
std::string Cipher(const std::string& key_hex, const std::string& data_hex, bool encrypt) {
  std::vector<uint8_t> key = FromHex(key_hex);
  std::vector<uint8_t> data = FromHex(data_hex);
  Des3Context context;
  if (encrypt) {
    Des3SetEncryptKey(key.data(), &context);
  } else {
    Des3SetDecryptKey(key.data(), &context);
  }
  for (size_t pos = 0; pos < data.size(); pos += 8) Des3Block(&data[pos], &data[pos], &context);
  return ToHex(data.data(), data.size());
}

struct Vector {
  const char* key;  // 8-byte single DES key, or 24-byte TDEA key
  const char* plain;
  const char* cipher;
};

// Single-DES known answers. A 24-byte key of three equal parts must give single DES, so each is
// run with its key repeated three times, in both directions. Every value was also checked
// against an independent implementation.
const Vector kDesVectors[] = {
    // The classic three-block ECB example, "Now is the time for all ".
    {"0123456789abcdef", "4e6f77206973207468652074696d6520666f7220616c6c20",
     "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    // The textbook worked example of the algorithm.
    {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    // NIST SP 800-17 variable plaintext known answer test (first, second and last entries).
    {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},
    {"0101010101010101", "4000000000000000", "dd7f121ca5015619"},
    {"0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
    // Variable key known answer test.
    {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},
    {"4001010101010101", "0000000000000000", "0eec1487dd8c26d5"},
    // Permutation operation known answer test.
    {"1046913489980131", "0000000000000000", "88d55e54f54c97b4"},
    {"1007103489988020", "0000000000000000", "0c0cc00c83ea48fd"},
    // Substitution table known answer test.
    {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
    {"0131d9619dc1376e", "5cd54ca83def57da", "7a389d10354bd271"},
};

TEST(Des3, EqualKeysGiveSingleDesKnownAnswers) {
  for (const Vector& vector : kDesVectors) {
    std::string key = std::string(vector.key) + vector.key + vector.key;
    EXPECT_EQ(Cipher(key, vector.plain, true), vector.cipher) << "key " << vector.key;
    EXPECT_EQ(Cipher(key, vector.cipher, false), vector.plain) << "key " << vector.key;
  }
}

TEST(Des3, ThreeKeyKnownAnswer) {
  // The three-key TDEA example of NIST SP 800-67 ("The qufck brown fox jump").
  const char* key = "0123456789abcdef23456789abcdef01456789abcdef0123";
  const char* plain = "54686520717566636b2062726f776e20666f78206a756d70";
  const char* cipher = "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900";
  EXPECT_EQ(Cipher(key, plain, true), cipher);
  EXPECT_EQ(Cipher(key, cipher, false), plain);
  // Key order matters: swapping K1 and K3 must not give the same cipher text.
  const char* swapped = "456789abcdef012323456789abcdef010123456789abcdef";
  EXPECT_NE(Cipher(swapped, plain, true), cipher);
}

TEST(Des3, ParityBitsAreIgnored) {
  const char* key = "0123456789abcdef23456789abcdef01456789abcdef0123";
  // Every key byte with its least significant bit flipped.
  const char* flipped = "0022446688aaccee22446688aaccee00446688aaccee0022";
  const char* plain = "54686520717566636b2062726f776e20666f78206a756d70";
  EXPECT_EQ(Cipher(flipped, plain, true), Cipher(key, plain, true));
  EXPECT_EQ(Cipher(flipped, plain, false), Cipher(key, plain, false));
  // A changed non-parity bit does change the result.
  const char* other = "0323456789abcdef23456789abcdef01456789abcdef0123";
  EXPECT_NE(Cipher(other, plain, true), Cipher(key, plain, true));
}

TEST(Des3, DecryptUndoesEncryptOutOfPlaceAndInPlace) {
  std::mt19937 random(20261207);
  for (int trial = 0; trial < 200; ++trial) {
    uint8_t key[24];
    uint8_t plain[8];
    for (uint8_t& byte : key) byte = static_cast<uint8_t>(random());
    for (uint8_t& byte : plain) byte = static_cast<uint8_t>(random());
    Des3Context encrypt;
    Des3Context decrypt;
    Des3SetEncryptKey(key, &encrypt);
    Des3SetDecryptKey(key, &decrypt);
    uint8_t cipher[8];
    Des3Block(plain, cipher, &encrypt);
    ASSERT_NE(std::memcmp(cipher, plain, 8), 0);
    uint8_t in_place[8];
    std::memcpy(in_place, plain, 8);
    Des3Block(in_place, in_place, &encrypt);
    ASSERT_EQ(std::memcmp(in_place, cipher, 8), 0);
    uint8_t back[8];
    Des3Block(cipher, back, &decrypt);
    ASSERT_EQ(std::memcmp(back, plain, 8), 0) << "trial " << trial;
  }
}

class CipherUnitsTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 24; ++i) {
      key_one_[i] = static_cast<uint8_t>(0x11 * (i % 15) + i);
      key_two_[i] = static_cast<uint8_t>(0xa5 ^ (7 * i));
    }
    Des3SetEncryptKey(key_one_, &encrypt_one_);
    Des3SetEncryptKey(key_two_, &encrypt_two_);
    Des3SetDecryptKey(key_one_, &decrypt_one_);
    Des3SetDecryptKey(key_two_, &decrypt_two_);
    for (int i = 0; i < kBytes; ++i) plain_[i] = static_cast<uint8_t>(i * 37 + 1);
  }

  static constexpr int kUnits = 4;
  static constexpr int kBytes = 16 * kUnits + 8;  // a guard block after the units
  uint8_t key_one_[24];
  uint8_t key_two_[24];
  Des3Context encrypt_one_, encrypt_two_, decrypt_one_, decrypt_two_;
  uint8_t plain_[kBytes];
};

TEST_F(CipherUnitsTest, MatchesBlockByBlockAndStaysInsideTheUnits) {
  uint8_t expected[kBytes];
  for (int unit = 0; unit < kUnits; ++unit) {
    Des3Block(plain_ + 16 * unit, expected + 16 * unit, &encrypt_one_);
    Des3Block(plain_ + 16 * unit + 8, expected + 16 * unit + 8, &encrypt_two_);
  }
  uint8_t buffer[kBytes];
  std::memcpy(buffer, plain_, kBytes);
  CipherUnits(buffer, kUnits, &encrypt_one_, &encrypt_two_);
  EXPECT_EQ(ToHex(buffer, 16 * kUnits), ToHex(expected, 16 * kUnits));
  EXPECT_EQ(std::memcmp(buffer + 16 * kUnits, plain_ + 16 * kUnits, 8), 0);
  CipherUnits(buffer, kUnits, &decrypt_one_, &decrypt_two_);
  EXPECT_EQ(std::memcmp(buffer, plain_, kBytes), 0);
}

TEST_F(CipherUnitsTest, HalvesOfAUnitAreIndependent) {
  uint8_t base[kBytes];
  uint8_t changed[kBytes];
  std::memcpy(base, plain_, kBytes);
  std::memcpy(changed, plain_, kBytes);
  changed[16 + 3] ^= 0x40;  // byte 3 of the second unit
  CipherUnits(base, kUnits, &encrypt_one_, &encrypt_two_);
  CipherUnits(changed, kUnits, &encrypt_one_, &encrypt_two_);
  for (int i = 0; i < kBytes; ++i) {
    if (i >= 16 && i < 24) continue;
    EXPECT_EQ(base[i], changed[i]) << "byte " << i;
  }
  EXPECT_NE(std::memcmp(base + 16, changed + 16, 8), 0);
}

}  // namespace
}  // namespace rowflume
