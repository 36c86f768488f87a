// The command line and everything read before the logon: parameter files, bind arguments, the
// SQL file, the usage text, and the one-shot tool that unscrambles scrambled output. What cannot
// be taken whole (a file that cannot be read, a line or value too long for its place) is not
// cut: the first such reason is kept in the job's refusal and the job must not run.
#pragma once

#include <cstdio>

#include "job/job_record.h"

namespace rowflume {

constexpr int kParameterItemLimit = 32767;  // characters of one parameter file item
constexpr int kQueryLimit = 32767;          // characters of the query with the SQL file

// Argument pass 1 over argv[1..argc-1]: "parfile=NAME" reads a parameter file, "-si" makes the
// user string "/", everything else goes to SetOption. An unknown keyword in first position is
// taken whole as the user string; elsewhere it is ignored with a notice on notices (standard
// error, as standard output may carry the data; none when null). Bind arguments (":...") are
// left to CollectBindArguments.
void ApplyOptionArguments(UnloadHandle* job, int argc, char** argv, FILE* notices = stderr);

// The user string an argument gives, as ApplyOptionArguments takes it (a "user=" item, or an
// unknown item in first position), pointing into arg; null when it gives none.
char* UserStringArgument(int arg_idx, char* arg);

// Argument pass 2: every ":name=value" argument fills the next bind entry. ":" alone or ":=..."
// is skipped, and a name without "=" gets an empty value. More than kMaxCommandLineBinds
// entries, a name over 30 or a value over 127 characters refuse the job.
void CollectBindArguments(UnloadHandle* job, int argc, char** argv);

// Applies every item of a parameter file; a name beginning with "-" is standard input (left
// open). A file that cannot be opened refuses the job.
void ReadParameterFile(UnloadHandle* job, const char* name, FILE* notices = stderr);
// Applies the items read from input (named name in messages): a line starting with white space
// continues the current item, blank lines change nothing, any other line starts a new item.
// A continuation line is appended as it is, after a line feed for the SQL-valued keywords
// (query, presql, postsql, alter). Trailing tabs and spaces of a line go, except where they are
// all of a decoded text option's value (IsLiteralBlankItem). An item beginning with "#" is a
// comment. "parfile=NAME" reads that file in turn, at most 8 files below the command line's; an
// item SetOption does not know is ignored with a notice on notices (none when null).
// Lines are read whole; an item longer than kParameterItemLimit or a NUL byte refuses the job
// and ends the reading, as does any refusal of a file it names.
void ReadParameterItems(UnloadHandle* job, FILE* input, const char* name, FILE* notices = stderr);

// Appends the `sql` file to `query`, each whole line followed by a space; "-" reads standard
// input up to a line that begins with "/". Nothing happens when `sql` is empty; a file that
// cannot be opened refuses the job.
void AppendSqlFile(UnloadHandle* job);
// The appending itself, from input; stop_at_slash ends the text at a line beginning with "/".
// A query that would grow past kQueryLimit characters, or a NUL byte, refuses the job.
void AppendSqlLines(UnloadHandle* job, FILE* input, bool stop_at_slash);

// The name of an input file as messages give it: a name beginning with "-" is standard input.
const char* InputName(const char* name);

// Keeps the message made from format as the job's refusal, unless it has one already.
void Refuse(UnloadHandle* job, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes the usage text: the three banner lines, the keyword list (every keyword with help),
// and the hints on byte codes.
void WriteUsage(FILE* out, const char* const banner_lines[3], bool help);

// Writes the unscrambled content of the named file (standard input when the name begins with
// "-") to out, restoring byte for byte a stream scrambled with the same key (8 readable bytes,
// as for ContentScramble in scramble/scramble.h). Returns 0, kUncrackUnreadable when the file
// cannot be opened or read, kUncrackUnwritable when a write fails.
constexpr int kUncrackUnreadable = 1;
constexpr int kUncrackUnwritable = 2;
int UncrackFile(const char* name, const char* key, FILE* out);

}  // namespace rowflume
