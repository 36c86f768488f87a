// Split plans in a parallel run: the plan file read whole, the table and SCN a pieces run takes
// from it, the pieces a list selects, and the plan file written by a plan run. The file's format
// is parallel/split_plan.h's.
#pragma once

#include "db/session.h"
#include "job/job_record.h"
#include "parallel/split_plan.h"

namespace rowflume {

// Reads the plan file named by `plan` whole: 0, or kRunRefused after a message.
int ReadPlan(const UnloadHandle* job, DbSession* session, SplitPlan* plan);

// A pieces run takes its table and SCN from the plan: the split value, when the command line
// gives none, names the plan's table in quotes (its exact dictionary names); an scn of the
// command line must be the plan's. 0, or kRunRefused after a message.
int TakeFromPlan(UnloadHandle* job, const SplitPlan& plan, DbSession* session);

// The plan's ranges of the pieces the list selects, in the plan's order, and those of the others
// (run elsewhere): 0, or kRunRefused after naming a selected piece the plan lacks.
int SelectPlannedPieces(const UnloadHandle* job, const SplitPlan& plan, DbSession* session,
                        RowidRangeList* ranges, RowidRangeList* elsewhere);

// Writes the plan file: 0, or kRunWriteFailed after a message.
int WritePlan(const UnloadHandle* job, const SplitPlan& plan, DbSession* session);

}  // namespace rowflume
