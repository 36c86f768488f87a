// One whole unload job, the layer on top of the database and output steps: it opens the log,
// logs on, sets the session up, runs presql, forms the query text, binds, executes and describes,
// writes the loader control file, runs the unload loop, then postsql and logoff, and keeps the
// result code. The command line, the parallel run and the exported functions all run jobs here.
#pragma once

#include "job/job_record.h"

namespace rowflume {

// Normalises the query text before a run: trailing blanks, ";" and "/" go; a text that does
// not start with the word WITH or SELECT (IsQueryStatement) is a table name and becomes "select *
// from NAME", which also fills `table` when it is empty and the name has at most 30 characters.
// False, the query left without its trailer, when the statement would not fit the query field.
bool PrepareQueryText(UnloadHandle* job);

// Runs the job; the result code (job_record.h) is also stored in job->run_status. A job the
// checks of run/job_checks.h refuse runs nothing and gives kRunRefused.
int RunJob(UnloadHandle* job);

}  // namespace rowflume
