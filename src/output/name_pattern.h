// Output file name patterns: the fields a pattern expands, and the two rules that keep one
// output from replacing another, the sequence number of later files and the piece number of
// parallel pieces, each inserted before the name's extension when the pattern lacks its field.
//
// A pattern expands %B %D %M %P %T %W %Y (either case) to the file sequence number, day, month,
// piece number, time in seconds since 1970 (ten digits until the year 2286), week day and year;
// "%" before any other character gives that character ("%%" one percent sign), a trailing "%"
// gives nothing. A leading "+" (append) or "-" (command) is part of the pattern and of its
// expansion.
#pragma once

#include <cstddef>

namespace rowflume {

constexpr int kExpandedNameBytes = 512;  // 511 characters and a NUL
constexpr int kMaxExpandedName = kExpandedNameBytes - 1;

// The file an expanded name writes: the name without the "+" of appending.
inline const char* WrittenFile(const char* expanded) {
  return expanded[0] == '+' ? expanded + 1 : expanded;
}

// True when the pattern has the field %<letter>, in either case (letter given in lower case).
bool HasPatternField(const char* pattern, char letter);

// True when two numbers of varying length that a run varies, the piece number (when pieces
// vary) and the file sequence number (when files are split), stand in the pattern with nothing
// but digits between them: "o%p%b" names piece 1's file 12 and piece 11's file 2 alike.
bool HasAmbiguousNumbers(const char* pattern, bool pieces_vary, bool sequence_varies);

// Inserts text before the last extension of the file part of name (after the last directory
// separator, and after a leading "+"; a leading dot names a file, not an extension), or at its
// end when there is none. False, leaving name as it was, when the result does not fit capacity
// bytes with its terminator.
bool InsertBeforeExtension(char* name, size_t capacity, const char* text);

// Expands pattern into expanded (kExpandedNameBytes). From sequence 2 on, a pattern without %b
// that names a file (no "+" or "-") gets "_<sequence>" before the extension of its expansion, so
// that the later files of a run never empty the first: emp.csv, emp_2.csv, emp_3.csv. Returns
// false when the name does not fit; expanded then holds its first kMaxExpandedName characters.
bool ExpandOutputName(const char* pattern, char* expanded, int sequence, int piece);

// Gives a pattern a piece field so that parallel pieces never write one file: a pattern with %p,
// or one that feeds a command, is kept; otherwise "_%p" goes before its extension. False,
// leaving pattern as it was, when the result does not fit capacity.
bool PiecePattern(char* pattern, size_t capacity);

}  // namespace rowflume
