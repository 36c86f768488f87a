// The uses of the cipher under the two keys built into the program: the scrambled user string
// that `crypt` prints and `user` accepts back, and texts kept in the program only in scrambled
// form (the usage banner lines and the split queries). Also the content scramble of the output
// under a key of the user's (`crack`, `uncrack`).
#pragma once

#include "stored_text_ids.h"  // generated: enum StoredText, StoredTextBytes

namespace rowflume {

// Bytes of the user field of the job record.
inline constexpr int kUserFieldBytes = 132;
// Longest user string whose scrambled form can be given back as a user value (128 digits).
inline constexpr int kMaxScrambledUserChars = 64;
// Largest stored text block.
inline constexpr int kMaxStoredTextBytes = 512;

// Formats prefix and the scrambled user string as ScrambleUserString prints it into out
// (capacity bytes, NUL-terminated): lower-case hex of the string zero-padded to whole 8-byte
// blocks, a line feed after the first 64 digits and one at the end. Returns the text length,
// or -1 with out empty when the user string is longer than kMaxScrambledUserChars (only part of
// it could be scrambled, and the rest would be shown as plain hex) or out is too small.
int FormatScrambledUserString(const char* prefix, const char* user_string, char* out, int capacity);
// Prints prefix and the scrambled user string on standard output. Returns 0; -1 when the user
// string is too long to scramble, after printing a message that says so instead.
int ScrambleUserString(const char* prefix, const char* user_string);
// Replaces an all-hex user string (a 132-byte field) by its plain form; others stay untouched.
// Every byte after the plain text is zero afterwards.
void UnscrambleUserString(char* user_field);
// Unscrambles unit_count units of 16 bytes of a stored text in place.
void UnscrambleStoredText(unsigned char* buffer, int unit_count);
// Copies the scrambled block of a stored text into out (StoredTextBytes(which) bytes) and
// unscrambles it there: out then holds a NUL-terminated text. The caller owns out and should
// clear it once done with the text.
void LoadStoredText(StoredText which, unsigned char* out);

// Bytes of one chunk of the content scramble.
inline constexpr int kContentScrambleChunk = 8;

// Scrambles or unscrambles buffer in place: an XOR of every 8-byte chunk but the last 1 to 8
// bytes with the first 8 bytes of key. key must have 8 readable bytes (a `crack` or `uncrack`
// field, NUL-padded). Returns how many leading bytes were processed: count when the key is
// empty, otherwise a multiple of 8 below count. A stream keeps the unprocessed tail and
// processes it again in front of its next bytes, so chunks count from the stream start.
int ContentScramble(char* buffer, int count, const char* key);

}  // namespace rowflume
