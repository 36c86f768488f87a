#include "job/command_line.h"

namespace rowflume {

int ContentScramble(char* buffer, int count, const char* key) {
  if (key[0] == '\0') return count;
  int processed = 0;
  while (processed + 8 < count) {
    for (int k = 0; k < 8; ++k) buffer[processed + k] ^= key[k];
    processed += 8;
  }
  return processed;
}

}  // namespace rowflume
