// Triple DES (three independent keys, electronic codebook) in the table-driven form, and the
// two-key 16-byte unit scheme on which every scrambled text of the program rests.
#pragma once

#include <cstdint>

namespace rowflume {

// Three DES key schedules applied to a block in order; made for one direction only.
struct Des3Context {
  uint32_t stage[3][32];  // per stage: 16 round subkeys of two words, in the order used
};

// Stage 1 = K1 encrypting, stage 2 = K2 decrypting, stage 3 = K3 encrypting.
void Des3SetEncryptKey(const uint8_t key[24], Des3Context* context);
// Stage 1 = K3 decrypting, stage 2 = K2 encrypting, stage 3 = K1 decrypting.
void Des3SetDecryptKey(const uint8_t key[24], Des3Context* context);
// Input and output may be the same bytes.
void Des3Block(const uint8_t input[8], uint8_t output[8], const Des3Context* context);
// unit_count units of 16 bytes, in place: bytes 0-7 of each unit with first, 8-15 with second.
void CipherUnits(uint8_t* buffer, int unit_count, const Des3Context* first,
                 const Des3Context* second);

}  // namespace rowflume
