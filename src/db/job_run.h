// One whole unload job: logon, session settings, presql, the query text, binds, execute and
// describe, the unload loop, postsql and logoff, with its result code. Also the small statement
// routines every database conversation of the program uses.
#pragma once

#include "db/session.h"
#include "job/job_record.h"

namespace rowflume {

// Result codes of a job run.
constexpr int kRunOk = 0;
constexpr int kRunLogonFailed = -1;
constexpr int kRunWriteFailed = 2;
constexpr int kRunQueryFailed = 3;
constexpr int kRunDescribeFailed = 5;
constexpr int kRunOpenFailed = 6;
constexpr int kRunFetchFailed = 7;
constexpr int kRunPresqlFailed = 8;
constexpr int kRunPostsqlFailed = 9;

// Statement routines: a client failure is reported through ReportError and its Oracle error
// number returned; 0 means success.
int StmtPrepare(DbSession* session, OCIStmt** statement, const char* text);
int StmtExecuteOnce(DbSession* session, OCIStmt* statement);
int StmtExecuteQuery(DbSession* session, OCIStmt* statement);
int StmtFree(DbSession* session, OCIStmt* statement);
int ExecuteStatement(DbSession* session, OCIStmt** statement, const char* text);
int BindByName(DbSession* session, OCIStmt* statement, BindEntry* entry);
// Current user name into buffer (at least 30 bytes); the status of the last client call.
int QueryCurrentUser(DbSession* session, char* buffer);

// Normalises the query text before a run: trailing blanks, ";" and "/" go; a text that does
// not start with WITH or SELECT is a table name and becomes "select * from NAME", which also
// fills `table` when it is empty and the name has at most 30 characters.
void PrepareQueryText(UnloadHandle* job);

// Runs the job; the result code is also stored in job->run_status.
int RunJob(UnloadHandle* job);

}  // namespace rowflume
