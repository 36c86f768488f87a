#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "db/scripted_client.h"
#include "db/statement.h"
#include "run/job_run.h"
#include "support/messages.h"

namespace rowflume {
namespace {

using namespace testing_support;

// A session logged on through the recording provider, with an empty call log.
class Statements : public testing::Test {
 protected:
  void SetUp() override {
    SessionInit(&session_);
    session_.callback = CaptureMessage;
    session_.callback_context = &messages_;
    session_.oci = StartScriptedClient();
    ASSERT_EQ(LogonUserString(&session_, "scott/tiger@orcl"), 0);
    ClearCallLog();
  }
  void TearDown() override { Logoff(&session_); }

  void FailWith(const char* call, sb4 code, const char* text, sword status = OCI_ERROR) {
    FakeOci::Get().FailNextUse(call, status);
    Scripted().error_code = code;
    Scripted().error_text = text;
  }

  DbSession session_;
  std::vector<std::string> messages_;
};

TEST_F(Statements, ExecuteStatementPreparesExecutesOnceAndFrees) {
  OCIStmt* statement = nullptr;
  EXPECT_EQ(ExecuteStatement(&session_, &statement, "ALTER SESSION SET X=1"), 0);
  EXPECT_EQ(CallLog(), "HandleAlloc(4) StmtPrepare StmtExecute HandleFree(4)");
  EXPECT_EQ(Scripted().prepared_text, "ALTER SESSION SET X=1");
  EXPECT_EQ(Scripted().execute_iterations, 1u);
  EXPECT_EQ(Scripted().execute_mode, OCI_COMMIT_ON_SUCCESS);
  EXPECT_EQ(statement, nullptr);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Statements, ExecuteStatementFailuresAreReportedOnceAndStillFree) {
  const char* kText = "ORA-02248: invalid option for ALTER SESSION\n";
  for (const char* step : {"StmtPrepare", "StmtExecute"}) {
    SCOPED_TRACE(step);
    ClearCallLog();
    messages_.clear();
    FailWith(step, 2248, kText);
    OCIStmt* statement = nullptr;
    EXPECT_EQ(ExecuteStatement(&session_, &statement, "ALTER SESSION SET NOPE=1"), 2248);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], kText);
    std::string log = CallLog();
    EXPECT_EQ(log.substr(log.size() - strlen("HandleFree(4)")), "HandleFree(4)");
    EXPECT_EQ(std::string(step) == "StmtPrepare", log.find("StmtExecute") == std::string::npos);
  }
  // No statement handle: -1 and no message, nothing to free.
  ClearCallLog();
  messages_.clear();
  FailWith("HandleAlloc(4)", 1017, "ORA-01017\n");
  OCIStmt* statement = nullptr;
  EXPECT_EQ(ExecuteStatement(&session_, &statement, "SELECT 1 FROM DUAL"), -1);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(CallLog(), "HandleAlloc(4)");
  // A failed free after a good execute still counts as failure.
  ClearCallLog();
  FailWith("HandleFree(4)", 0, "");
  EXPECT_EQ(ExecuteStatement(&session_, &statement, "SELECT 1 FROM DUAL"), -1);
}

TEST_F(Statements, FailureWithoutErrorRecordIsNeverSuccess) {
  FailWith("StmtExecute", 0, "", OCI_SUCCESS_WITH_INFO);
  OCIStmt* statement = nullptr;
  ASSERT_EQ(StmtPrepare(&session_, &statement, "select * from emp"), 0);
  EXPECT_EQ(StmtExecuteQuery(&session_, statement), -1);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(StmtFree(&session_, statement), 0);
}

TEST_F(Statements, QueryExecutesWithoutFetching) {
  OCIStmt* statement = nullptr;
  ASSERT_EQ(StmtPrepare(&session_, &statement, "select * from emp"), 0);
  ASSERT_NE(statement, nullptr);
  EXPECT_EQ(StmtExecuteQuery(&session_, statement), 0);
  EXPECT_EQ(Scripted().execute_iterations, 0u);
  EXPECT_EQ(Scripted().execute_mode, OCI_DEFAULT);
  EXPECT_EQ(StmtFree(&session_, statement), 0);
  EXPECT_EQ(StmtFree(&session_, nullptr), 0);
  EXPECT_EQ(CallLog(), "HandleAlloc(4) StmtPrepare StmtExecute HandleFree(4)");
}

TEST_F(Statements, BindByNameBindsTextAndStoresTheHandle) {
  BindEntry entry = {};
  strcpy(entry.name, "MINRID");
  entry.name_length = 6;
  strcpy(entry.value, "AAAR3sAAEAAAACXAAA");
  entry.value_length = 18;
  OCIStmt* statement = nullptr;
  ASSERT_EQ(StmtPrepare(&session_, &statement, "select * from t where rowid >= :MINRID"), 0);
  OCIBind* bind = nullptr;
  EXPECT_EQ(BindByName(&session_, statement, &entry, &bind), 0);
  EXPECT_EQ(Scripted().bind_name, "MINRID");
  EXPECT_EQ(Scripted().bind_value, "AAAR3sAAEAAAACXAAA");
  EXPECT_EQ(Scripted().bind_type, SQLT_CHR);
  EXPECT_EQ(Scripted().bind_max_array, 1u);
  EXPECT_NE(bind, nullptr);

  // Damaged lengths are held to the entry's arrays.
  entry.name_length = 1000;
  entry.value_length = 100000;
  BindByName(&session_, statement, &entry, &bind);
  EXPECT_EQ(Scripted().bind_name.size(), sizeof(entry.name));
  EXPECT_EQ(Scripted().bind_value.size(), sizeof(entry.value));

  // A failed bind is reported where it happens, once.
  FailWith("BindByName", 1036, "ORA-01036: illegal variable name/number\n");
  entry.name_length = 6;
  entry.value_length = 18;
  EXPECT_NE(BindByName(&session_, statement, &entry, &bind), 0);
  EXPECT_EQ(messages_, std::vector<std::string>{"ORA-01036: illegal variable name/number\n"});
  StmtFree(&session_, statement);
}

TEST_F(Statements, CurrentUser) {
  char buffer[30];
  EXPECT_EQ(QueryCurrentUser(&session_, buffer), 0);
  EXPECT_STREQ(buffer, "SCOTT");
  EXPECT_EQ(Scripted().prepared_text, "SELECT USER FROM DUAL");
  EXPECT_EQ(Scripted().define_size, 30);
  EXPECT_EQ(Scripted().define_type, SQLT_STR);
  EXPECT_EQ(CallLog(),
            "HandleAlloc(4) StmtPrepare StmtExecute DefineByPos StmtFetch HandleFree(6) "
            "HandleFree(4)");
}

TEST_F(Statements, CurrentUserFailures) {
  char buffer[30];
  // Fetch and define failures are returned, not reported, and leave no name.
  for (const char* step : {"StmtFetch", "DefineByPos"}) {
    SCOPED_TRACE(step);
    ClearCallLog();
    const sword status = std::string(step) == "StmtFetch" ? OCI_NO_DATA : OCI_ERROR;
    FailWith(step, 1403, "ORA-01403: no data found\n", status);
    strcpy(buffer, "OLD");
    EXPECT_EQ(QueryCurrentUser(&session_, buffer), status);
    EXPECT_STREQ(buffer, "");
    EXPECT_TRUE(messages_.empty());
    std::string log = CallLog();
    EXPECT_EQ(log.substr(log.size() - strlen("HandleFree(4)")), "HandleFree(4)");
  }
  // A prepare failure is reported and its number returned.
  ClearCallLog();
  FailWith("StmtPrepare", 942, "ORA-00942: table or view does not exist\n");
  EXPECT_EQ(QueryCurrentUser(&session_, buffer), 942);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "ORA-00942: table or view does not exist\n");
  EXPECT_EQ(CallLog(), "HandleAlloc(4) StmtPrepare ErrorGet HandleFree(4)");
}

TEST(StatementsWithoutLogon, RefuseWithoutCallingTheClient) {
  DbSession session;
  SessionInit(&session);
  OCIStmt* statement = reinterpret_cast<OCIStmt*>(&session);
  EXPECT_EQ(StmtPrepare(&session, &statement, "select 1 from dual"), -1);
  EXPECT_EQ(statement, nullptr);
  EXPECT_EQ(ExecuteStatement(&session, &statement, "select 1 from dual"), -1);
  char buffer[30];
  EXPECT_NE(QueryCurrentUser(&session, buffer), 0);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace rowflume
