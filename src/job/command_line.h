// The command line and everything read before the logon: parameter files, bind arguments, the
// SQL file, the usage text, and the one-shot tool that unscrambles scrambled output. Nothing
// here reports anything: unreadable files are skipped and unknown keywords ignored.
#pragma once

#include <cstdio>

#include "job/job_record.h"

namespace rowflume {

constexpr int kParameterItemLimit = 32767;  // characters of one parameter file item
constexpr int kQueryLimit = 32767;          // characters of the query with the SQL file

// Argument pass 1 over argv[1..argc-1]: "parfile=NAME" reads a parameter file, "-si" makes the
// user string "/", everything else goes to SetOption. An unknown keyword in first position is
// taken whole as the user string; elsewhere it is ignored.
void ApplyOptionArguments(UnloadHandle* job, int argc, char** argv);

// Argument pass 2: every ":name=value" argument fills the next bind entry, up to
// kMaxCommandLineBinds entries. Names keep 30 characters, values 127; ":" alone or ":=..." is
// skipped, and a name without "=" gets an empty value.
void CollectBindArguments(UnloadHandle* job, int argc, char** argv);

// Applies every item of a parameter file; a name beginning with "-" is standard input (left
// open). A file that cannot be opened is skipped.
void ReadParameterFile(UnloadHandle* job, const char* name);
// Applies the items read from input: a line starting with white space continues the current
// item, blank lines change nothing, any other line starts a new item. Lines are read in pieces
// of 510 characters, and an item longer than kParameterItemLimit keeps only its beginning.
void ReadParameterItems(UnloadHandle* job, FILE* input);

// Appends the `sql` file to `query`, each line piece followed by a space; "-" reads standard
// input up to a line that begins with "/". Nothing happens when `sql` is empty or the file
// cannot be opened.
void AppendSqlFile(UnloadHandle* job);
// The appending itself, from input; stop_at_slash ends the text at a line beginning with "/".
// The query is cut at kQueryLimit characters.
void AppendSqlLines(UnloadHandle* job, FILE* input, bool stop_at_slash);

// Writes the usage text: the three banner lines, the keyword list (every keyword with help),
// and the hints on byte codes.
void WriteUsage(FILE* out, const char* const banner_lines[3], bool help);

// Writes the unscrambled content of the named file (standard input when the name begins with
// "-") to out, restoring byte for byte a stream scrambled with the same key (8 readable bytes,
// as for ContentScramble in scramble/scramble.h). Returns 0, or -1 when the file cannot be opened
// or a write fails.
int UncrackFile(const char* name, const char* key, FILE* out);

}  // namespace rowflume
