// The command-line program: builds the job from the arguments, runs the one-shot modes (the
// scrambled user string, the unscramble tool) and the usage text, and decides the exit status.
#pragma once

#include "job/job_record.h"

namespace rowflume {

// Fills job from the arguments (parameter files, items, binds, SQL file), then handles what ends
// the program before any logon: `crypt` prints the scrambled user string, `uncrack` unscrambles
// a file to standard output, and a job with neither `query` nor `split` prints the usage text.
// A scrambled user string is turned back into its plain form. A command line that could not be
// taken whole (a value cut, a file unread) runs nothing, not even a one-shot mode. Returns 0 when
// the job is ready to run, otherwise the exit status: 1 for the one-shot modes and the usage
// text, 2 when the unscramble tool fails, kRunRefused for a refused command line.
int PrepareCommandLineJob(UnloadHandle* job, int argc, char** argv);

// The whole program; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace rowflume
