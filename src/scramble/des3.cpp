#include "scramble/des3.h"

#include <array>

namespace rowflume {
namespace {

// The standard's S-boxes, row by row (row = outer bits of the 6-bit input, column = inner four).
constexpr uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// P: output bit i (1-based, most significant first) is input bit kPermP[i - 1].
constexpr uint8_t kPermP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// PC-1: the 56 key bits taking part, C (first 28) then D (last 28).
constexpr uint8_t kPermutedChoice1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                                          10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                                          63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                                          14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// PC-2: the 48 subkey bits chosen from C and D joined.
constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left rotations of C and D before each round, counted from the start.
constexpr uint8_t kCumulativeShift[16] = {1,  2,  4,  6,  8,  10, 12, 14,
                                          15, 17, 19, 21, 23, 25, 27, 28};

constexpr uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

// SP tables: S-box output moved to its nibble, sent through P, and rotated left one bit, because
// the round keeps both halves rotated left one bit (which puts every E-expansion group on a
// byte-aligned 6-bit field of either the half or the half rotated by 4).
using SpTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr SpTables MakeSpTables() {
  SpTables tables{};
  for (int box = 0; box < 8; ++box) {
    for (int input = 0; input < 64; ++input) {
      int row = ((input >> 4) & 2) | (input & 1);
      int column = (input >> 1) & 15;
      uint32_t placed = static_cast<uint32_t>(kSBox[box][row * 16 + column]) << (28 - 4 * box);
      uint32_t permuted = 0;
      for (int bit = 0; bit < 32; ++bit) {
        if (placed & (0x80000000u >> (kPermP[bit] - 1))) permuted |= 0x80000000u >> bit;
      }
      tables[box][input] = RotateLeft(permuted, 1);
    }
  }
  return tables;
}

constexpr SpTables kSp = MakeSpTables();

// Subkeys of one DES key in encryption order: two words per round, the first with the 6-bit
// groups for S1, S3, S5, S7 and the second with those for S2, S4, S6, S8, one group per byte,
// most significant byte first.
void MakeSchedule(const uint8_t key[8], bool decrypt, uint32_t schedule[32]) {
  uint8_t key_bits[56];
  for (int i = 0; i < 56; ++i) {
    int bit = kPermutedChoice1[i] - 1;
    key_bits[i] = (key[bit >> 3] >> (7 - (bit & 7))) & 1;
  }
  for (int round = 0; round < 16; ++round) {
    uint8_t rotated[56];
    int shift = kCumulativeShift[round];
    for (int i = 0; i < 28; ++i) {
      rotated[i] = key_bits[(i + shift) % 28];
      rotated[28 + i] = key_bits[28 + (i + shift) % 28];
    }
    uint8_t groups[8] = {};
    for (int i = 0; i < 48; ++i) {
      groups[i / 6] = static_cast<uint8_t>((groups[i / 6] << 1) | rotated[kPermutedChoice2[i] - 1]);
    }
    int slot = decrypt ? 15 - round : round;
    schedule[2 * slot] = (uint32_t{groups[0]} << 24) | (uint32_t{groups[2]} << 16) |
                         (uint32_t{groups[4]} << 8) | groups[6];
    schedule[2 * slot + 1] = (uint32_t{groups[1]} << 24) | (uint32_t{groups[3]} << 16) |
                             (uint32_t{groups[5]} << 8) | groups[7];
  }
}

// One Feistel round: right and left are both kept rotated left one bit.
inline void Round(uint32_t right, uint32_t& left, const uint32_t* subkey) {
  uint32_t odd = RotateLeft(right, 28) ^ subkey[0];
  uint32_t even = right ^ subkey[1];
  left ^= kSp[0][(odd >> 24) & 0x3f] | kSp[2][(odd >> 16) & 0x3f] | kSp[4][(odd >> 8) & 0x3f] |
          kSp[6][odd & 0x3f] | kSp[1][(even >> 24) & 0x3f] | kSp[3][(even >> 16) & 0x3f] |
          kSp[5][(even >> 8) & 0x3f] | kSp[7][even & 0x3f];
}

// Swaps the bits of b selected by mask with the bits of a selected by (mask << shift).
inline void Exchange(uint32_t& a, uint32_t& b, int shift, uint32_t mask) {
  uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// IP, leaving both halves rotated left one bit for the rounds.
inline void InitialPermutation(uint32_t& left, uint32_t& right) {
  Exchange(left, right, 4, 0x0f0f0f0fu);
  Exchange(left, right, 16, 0x0000ffffu);
  Exchange(right, left, 2, 0x33333333u);
  Exchange(right, left, 8, 0x00ff00ffu);
  right = RotateLeft(right, 1);
  uint32_t t = (left ^ right) & 0xaaaaaaaau;
  left ^= t;
  right ^= t;
  left = RotateLeft(left, 1);
}

// IP^-1 on the halves as the rounds leave them: the same steps in reverse order.
inline void FinalPermutation(uint32_t& left, uint32_t& right) {
  left = RotateLeft(left, 31);
  uint32_t t = (left ^ right) & 0xaaaaaaaau;
  left ^= t;
  right ^= t;
  right = RotateLeft(right, 31);
  Exchange(right, left, 8, 0x00ff00ffu);
  Exchange(right, left, 2, 0x33333333u);
  Exchange(left, right, 16, 0x0000ffffu);
  Exchange(left, right, 4, 0x0f0f0f0fu);
}

// Full DES of the standard on a word pair: IP, 16 rounds, the final swap and IP^-1.
inline void DesWords(uint32_t& word0, uint32_t& word1, const uint32_t* schedule) {
  uint32_t left = word0;
  uint32_t right = word1;
  InitialPermutation(left, right);
  for (int pass = 0; pass < 8; ++pass) {
    Round(right, left, schedule + 4 * pass);
    Round(left, right, schedule + 4 * pass + 2);
  }
  // The rounds end with the halves swapped back, so the output is R16 then L16.
  FinalPermutation(right, left);
  word0 = right;
  word1 = left;
}

inline uint32_t LoadBigEndian(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         bytes[3];
}

inline void StoreBigEndian(uint32_t value, uint8_t* bytes) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

}  // namespace

void Des3SetEncryptKey(const uint8_t key[24], Des3Context* context) {
  MakeSchedule(key, false, context->stage[0]);
  MakeSchedule(key + 8, true, context->stage[1]);
  MakeSchedule(key + 16, false, context->stage[2]);
}

void Des3SetDecryptKey(const uint8_t key[24], Des3Context* context) {
  MakeSchedule(key + 16, true, context->stage[0]);
  MakeSchedule(key + 8, false, context->stage[1]);
  MakeSchedule(key, true, context->stage[2]);
}

void Des3Block(const uint8_t input[8], uint8_t output[8], const Des3Context* context) {
  uint32_t word0 = LoadBigEndian(input);
  uint32_t word1 = LoadBigEndian(input + 4);
  for (int stage = 0; stage < 3; ++stage) DesWords(word0, word1, context->stage[stage]);
  StoreBigEndian(word0, output);
  StoreBigEndian(word1, output + 4);
}

void CipherUnits(uint8_t* buffer, int unit_count, const Des3Context* first,
                 const Des3Context* second) {
  for (int unit_idx = 0; unit_idx < unit_count; ++unit_idx) {
    uint8_t* unit = buffer + 16 * unit_idx;
    Des3Block(unit, unit, first);
    Des3Block(unit + 8, unit + 8, second);
  }
}

}  // namespace rowflume
