// The uses of the cipher under the two keys built into the program: the scrambled user string
// that `crypt` prints and `user` accepts back, and texts kept in the program only in scrambled
// form (the usage banner lines and the split queries).
#pragma once

namespace rowflume {

// Prints prefix and the scrambled user string in lower-case hex on standard output.
void ScrambleUserString(const char* prefix, const char* user_string);
// Replaces an all-hex user string (a 132-byte field) by its plain form; others stay untouched.
void UnscrambleUserString(char* user_field);
// Unscrambles unit_count units of 16 bytes of a stored text in place.
void UnscrambleStoredText(unsigned char* buffer, int unit_count);

}  // namespace rowflume
