// Resumed pieces runs (`plan=FILE pieces=LIST manifest=M resume=yes`): the manifest the runs
// before left is read and checked against the plan and the options, every selected piece whose
// entry is complete and whose files still verify is skipped, and the rest run again at the
// plan's SCN, into the LOB set the unload has used from the start, so that the files of all the
// runs together are those of a run in one go.
#pragma once

#include <string>
#include <vector>

#include "db/session.h"
#include "job/job_record.h"
#include "output/manifest.h"
#include "parallel/split_plan.h"
#include "run/manifest_keeper.h"

namespace rowflume {

struct ResumeState {
  bool found = false;  // the manifest exists: there is something to resume
  Manifest before;
  bool skip[kMaxRowidRanges + 1] = {};  // selected pieces complete and verified
};

// Reads the manifest a resumed run continues: 0 (found false when there is none yet), or
// kRunRefused after a message when it cannot be read or belongs to another plan (its pieces'
// ranges, its SCN) or other options (the layout's, the query's).
int LoadResume(const UnloadHandle* job, const SplitPlan& plan, const std::string& query,
               DbSession* session, ResumeState* resume);

// Decides which selected pieces (ranges) are done, naming each, and hands the keeper what the new
// manifest carries over: the done pieces with their files, and the pieces of the manifest this
// run does not select, as they were.
void DecideResume(const RowidRangeList& ranges, DbSession* session, ResumeState* resume,
                  ManifestKeeper* keeper);

// Removes the data files that the manifest lists for the selected pieces that run again (a cut
// or failed attempt's, or files that no longer verify), so that none stays beside the new ones
// under a name the new run does not write (a `%t` name, a last file of a split output). False
// after a message when one cannot be removed.
bool RemoveCutFiles(const RowidRangeList& ranges, const ResumeState& resume, DbSession* session);

// The attempts the runs before made at the piece (0 when none is recorded).
int32_t AttemptsBefore(const ResumeState& resume, int32_t piece);

// The data files of a skipped piece, as the unload loop names them (for the control file).
std::vector<std::string> CarriedDataFiles(const ResumeState& resume, int32_t piece);

}  // namespace rowflume
