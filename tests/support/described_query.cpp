#include "support/described_query.h"

#include "db/statement.h"
#include "run/client_choice.h"
#include "support/messages.h"

namespace rowflume::testing_support {

DescribedQuery::DescribedQuery() {
  SessionInit(&session_);
  session_.callback = CaptureMessage;
  session_.callback_context = &messages_;
}

DescribedQuery::~DescribedQuery() {
  Release();
  Logoff(&session_);
}

int DescribedQuery::Open(const std::string& path) {
  return LogonChosenClient(&session_, ("scott/tiger@sqlite:" + path).c_str());
}

int DescribedQuery::Describe(const std::string& query, UnloadHandle* job) {
  Release();
  if (StmtPrepare(&session_, &statement_, query.c_str()) != 0) return -100;
  if (StmtExecuteQuery(&session_, statement_) != 0) return -101;
  // The run keeps the fetch size describing decides in the job, as the unload loop reads it there.
  uint32_t fetch_rows = job->array;
  const int described =
      DescribeColumns(&session_, statement_, &head_, job->width, job, &fetch_rows);
  job->array = fetch_rows;
  return described;
}

std::vector<ColumnDesc*> DescribedQuery::Columns() {
  std::vector<ColumnDesc*> list;
  for (ColumnDesc* c = head_.next; c != nullptr; c = c->next) list.push_back(c);
  return list;
}

void DescribedQuery::Release() {
  FreeColumns(&session_, &head_);
  if (statement_ != nullptr) StmtFree(&session_, statement_);
  statement_ = nullptr;
}

}  // namespace rowflume::testing_support
