// A query on an embedded database described as the job run describes it: a logged-on session,
// the executed statement and its column list.
#pragma once

#include <string>
#include <vector>

#include "db/columns.h"
#include "db/session.h"
#include "job/job_record.h"

namespace rowflume::testing_support {

class DescribedQuery {
 public:
  DescribedQuery();
  ~DescribedQuery();
  DescribedQuery(const DescribedQuery&) = delete;
  DescribedQuery& operator=(const DescribedQuery&) = delete;

  // Logs on to the database file; the logon's status (0 on success).
  int Open(const std::string& path);
  // Prepares and executes the query and describes it with the job's options, replacing the
  // list of the query before; DescribeColumns' result, or -100 when the statement could not be
  // prepared and -101 when it could not be executed.
  int Describe(const std::string& query, UnloadHandle* job);

  ColumnDesc* head() { return &head_; }
  std::vector<ColumnDesc*> Columns();
  // The messages of the session.
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  void Release();

  DbSession session_{};
  OCIStmt* statement_ = nullptr;
  ColumnDesc head_{};
  std::vector<std::string> messages_;
};

}  // namespace rowflume::testing_support
