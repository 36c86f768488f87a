// One whole unload job, the layer on top of the database and output steps: it opens the log,
// logs on, sets the session up, runs presql, forms the query text, binds, executes and describes,
// writes the loader control file, runs the unload loop, then postsql and logoff, and keeps the
// result code. The command line, the parallel run and the exported functions all run jobs here.
#pragma once

#include "job/job_record.h"
#include "output/control_file.h"
#include "output/unload_loop.h"

namespace rowflume {

// What one run of a job wrote, for whoever runs it.
struct RunOutputs {
  bool control_by_caller = false;     // given by the caller: it writes the control file itself
  std::vector<std::string> reserved;  // given by the caller: files no data file may be, besides
                                      // the run's own log, control file, plan and database
  UnloadOutputs unload;               // the data files, in order
  bool control_wanted = false;        // a control file goes with the unload: `control` holds it
  ControlLayout control;
  int64_t record_length = 0;  // the fixed-width layout's record length, once described
  std::string failure;        // what went wrong, when the run failed (run/manifest_keeper.h)
};

// Normalises the query text before a run: trailing blanks, ";" and "/" go; a text that does
// not start with the word WITH or SELECT (IsQueryStatement) is a table name and becomes "select *
// from NAME", which also fills `table` when it is empty and the name has at most 30 characters.
// False, the query left without its trailer, when the statement would not fit the query field.
bool PrepareQueryText(UnloadHandle* job);

// Runs the job; the result code (job_record.h) is also stored in job->run_status. A job the
// checks of run/job_checks.h refuse runs nothing and gives kRunRefused. A run that fails once it
// has written removes the data and LOB files it made (an appended file keeps what it was given):
// what a failed run leaves could be taken for complete. The loader control file is written once
// the run has succeeded, naming the files written, unless outputs->control_by_caller; outputs
// may be null. A job with `manifest` writes its manifest (run/manifest_keeper.h) as it runs, and
// the outputs keep their digests when outputs->unload.digest is set or the job has a manifest.
int RunJob(UnloadHandle* job, RunOutputs* outputs = nullptr);

// The data files a control file names for a run that wrote files (as the unload loop expanded
// them): each as the loader opens it; for a run that wrote none (data=NO, standard output), the
// name its first file has.
std::vector<std::string> LoadedFiles(const UnloadHandle* job,
                                     const std::vector<std::string>& files);

}  // namespace rowflume
