#include "scramble/scramble.h"

#include <cstdio>
#include <cstring>

#include "common/ascii.h"
#include "common/messages.h"
#include "platform/platform.h"
#include "scramble/des3.h"
#include "scramble/keys.h"
#include "stored_texts.h"  // generated

namespace rowflume {
namespace {

// Only the first four units of a user string are scrambled.
constexpr int kUserUnits = 4;

// Length of the text in a user field, never looking past its last byte that can be text.
size_t UserTextLength(const char* user_field) {
  return strnlen(user_field, kUserFieldBytes - 1);
}

void UserStringUnits(unsigned char* work, bool encrypt) {
  Des3Context first;
  Des3Context second;
  if (encrypt) {
    Des3SetEncryptKey(kKeyOne, &first);
    Des3SetEncryptKey(kKeyTwo, &second);
  } else {
    Des3SetDecryptKey(kKeyOne, &first);
    Des3SetDecryptKey(kKeyTwo, &second);
  }
  CipherUnits(work, kUserUnits, &first, &second);
}

}  // namespace

int FormatScrambledUserString(const char* prefix, const char* user_string, char* out,
                              int capacity) {
  if (capacity <= 0) return -1;
  out[0] = '\0';
  size_t length = UserTextLength(user_string);
  size_t prefix_length = strlen(prefix);
  int blocks = static_cast<int>((length + 7) / 8);
  // Prefix, two digits per byte, the line feed after byte 31 when there is one, the final line
  // feed and the NUL.
  size_t bytes = 8 * static_cast<size_t>(blocks);
  size_t needed = prefix_length + 2 * bytes + (bytes > 31 ? 1 : 0) + 2;
  if (length > static_cast<size_t>(kMaxScrambledUserChars) ||
      needed > static_cast<size_t>(capacity)) {
    return -1;
  }
  unsigned char work[kUserFieldBytes] = {};
  memcpy(work, user_string, length);
  UserStringUnits(work, true);
  char* next = out;
  memcpy(next, prefix, prefix_length);
  next += prefix_length;
  for (int pos = 0; pos < blocks * 8; ++pos) {
    *next++ = kLowerHexDigits[work[pos] >> 4];
    *next++ = kLowerHexDigits[work[pos] & 15];
    if (pos == 31) *next++ = '\n';
  }
  *next++ = '\n';
  *next = '\0';
  memset(work, 0, sizeof work);
  return static_cast<int>(next - out);
}

int ScrambleUserString(const char* prefix, const char* user_string) {
  // 128 digits, two line feeds and the NUL at most; the prefix is written by itself.
  char line[2 * kMaxScrambledUserChars + 3];
  OutputStream* out = StdoutStream();
  int length = FormatScrambledUserString("", user_string, line, sizeof line);
  if (length < 0) {
    char refusal[128];
    int refusal_length = std::snprintf(refusal, sizeof refusal, messages::kUserTooLongToScramble,
                                       kMaxScrambledUserChars);
    WriteAll(out, refusal, static_cast<size_t>(refusal_length));
    CloseStream(out);
    return -1;
  }
  WriteAll(out, prefix, strlen(prefix));
  WriteAll(out, line, static_cast<size_t>(length));
  CloseStream(out);
  memset(line, 0, sizeof line);
  return 0;
}

void UnscrambleUserString(char* user_field) {
  size_t length = UserTextLength(user_field);
  for (size_t pos = 0; pos < length; ++pos) {
    if (!IsHexDigit(user_field[pos])) return;
  }
  unsigned char work[kUserFieldBytes] = {};
  // Digits past the end of the text read as the zero bytes that follow it.
  for (size_t pos = 0; pos < length; pos += 2) {
    char high = user_field[pos];
    char low = pos + 1 < length ? user_field[pos + 1] : '\0';
    work[pos / 2] = static_cast<unsigned char>(HexDigitValue(high) * 16 + HexDigitValue(low));
  }
  UserStringUnits(work, false);
  // The plain text is the decoded bytes, an odd last digit dropped. Whatever the cipher left
  // beyond it (the decipherment of zero padding, or of a string scrambled under other keys) is
  // cleared, so the field keeps nothing but zero bytes after its text.
  size_t plain_length = strnlen(reinterpret_cast<const char*>(work), length / 2);
  memset(work + plain_length, 0, sizeof work - plain_length);
  memcpy(user_field, work, sizeof work);
  memset(work, 0, sizeof work);
}

void UnscrambleStoredText(unsigned char* buffer, int unit_count) {
  Des3Context first;
  Des3Context second;
  Des3SetDecryptKey(kKeyTwo, &first);
  Des3SetDecryptKey(kKeyOne, &second);
  CipherUnits(buffer, unit_count, &first, &second);
}

void LoadStoredText(StoredText which, unsigned char* out) {
  int block_bytes = StoredTextBytes(which);
  memcpy(out, kStoredTextBlocks[static_cast<int>(which)], static_cast<size_t>(block_bytes));
  UnscrambleStoredText(out, block_bytes / 16);
}

int ContentScramble(char* buffer, int count, const char* key) {
  if (key[0] == '\0') return count;
  int processed = 0;
  while (processed + kContentScrambleChunk < count) {
    for (int k = 0; k < kContentScrambleChunk; ++k) buffer[processed + k] ^= key[k];
    processed += kContentScrambleChunk;
  }
  return processed;
}

}  // namespace rowflume
