// The command line and everything read before the logon: parameter files, bind arguments, the
// SQL file, the usage text, and the content scramble with its one-shot unscramble tool.
#pragma once

#include "job/job_record.h"

namespace rowflume {

// Scrambles or unscrambles buffer in place with the first 8 bytes of key (an XOR of every
// 8-byte chunk but the last 1 to 8 bytes). Returns how many leading bytes were processed: count
// when the key is empty, otherwise a multiple of 8 below count. A stream keeps the unprocessed
// tail and processes it again in front of its next bytes, so chunks count from the stream start.
int ContentScramble(char* buffer, int count, const char* key);

}  // namespace rowflume
