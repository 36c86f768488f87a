#include "db/session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/messages.h"
#include "db/scripted_client.h"
#include "db/statement.h"
#include "engine/embedded_api.h"
#include "oci/client_library.h"
#include "run/client_choice.h"
#include "run/job_run.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/sqlite_file.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string Descriptor(const std::string& host, const std::string& port, const std::string& sid) {
  return "(DESCRIPTION=(ADDRESS_LIST=(ADDRESS=(HOST=" + host + ")(PROTOCOL=TCP)(PORT=" + port +
         ")))(CONNECT_DATA=(SID=" + sid + ")(SERVER=DEDICATED)))";
}

struct Parsed {
  int result;
  LogonCredentials credentials;
  std::string message;
};

Parsed Parse(const std::string& user_string) {
  Parsed parsed;
  char message[256];
  parsed.result =
      ParseUserString(user_string.c_str(), &parsed.credentials, message, sizeof(message));
  parsed.message = message;
  return parsed;
}

void ExpectCredentials(const std::string& user_string, uint32_t type, uint32_t mode,
                       const std::string& user, const std::string& password,
                       const std::string& connect) {
  SCOPED_TRACE("user string: " + user_string);
  Parsed parsed = Parse(user_string);
  ASSERT_EQ(parsed.result, 0) << parsed.message;
  EXPECT_EQ(parsed.credentials.credential_type, type);
  EXPECT_EQ(parsed.credentials.mode, mode);
  EXPECT_EQ(parsed.credentials.user, user);
  EXPECT_EQ(parsed.credentials.password, password);
  EXPECT_EQ(parsed.credentials.connect, connect);
}

TEST(UserString, DatabaseCredentials) {
  ExpectCredentials("scott/tiger@orcl", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "tiger", "orcl");
  ExpectCredentials("scott/tiger", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "tiger", "");
  ExpectCredentials("scott", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "", "");
  ExpectCredentials("scott/", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "", "");
  // An at sign before any slash: a user without password at that connect identifier.
  ExpectCredentials("scott@orcl", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "", "orcl");
  ExpectCredentials("SYSTEM/manager@orcl", OCI_CRED_RDBMS, OCI_DEFAULT, "SYSTEM", "manager",
                    "orcl");
  ExpectCredentials("sysadm/x", OCI_CRED_RDBMS, OCI_DEFAULT, "sysadm", "x", "");
}

TEST(UserString, ExternalAndSysdbaLogonsKeepTheConnectIdentifier) {
  struct Case {
    const char* text;
    uint32_t type;
    uint32_t mode;
    const char* user;
    const char* password;
    const char* connect;
  };
  const Case cases[] = {
      {"", OCI_CRED_EXT, OCI_DEFAULT, "", "", ""},
      // A wallet logon: the alias selects the credentials and the database.
      {"/@walletalias", OCI_CRED_EXT, OCI_DEFAULT, "", "", "walletalias"},
      {"/secret@svc", OCI_CRED_EXT, OCI_DEFAULT, "", "", "svc"},
      {"SyS/pw", OCI_CRED_EXT, OCI_SYSDBA, "", "", ""},
      {"sys@orcl", OCI_CRED_EXT, OCI_SYSDBA, "", "", "orcl"},
      {"sys/@orcl", OCI_CRED_EXT, OCI_SYSDBA, "", "", "orcl"},
      {"sys/secret@PRODDB", OCI_CRED_RDBMS, OCI_SYSDBA, "sys", "secret", "PRODDB"},
      {"SYS/pw@dbhost:1521/orcl", OCI_CRED_RDBMS, OCI_SYSDBA, "SYS", "pw", "dbhost:1521/orcl"},
      {"/@sqlite:demo.db", OCI_CRED_EXT, OCI_DEFAULT, "", "", "sqlite:demo.db"},
      {"scott/tiger@sqlite:/tmp/a:b:c.db", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "tiger",
       "sqlite:/tmp/a:b:c.db"},
  };
  for (const Case& c : cases) {
    ExpectCredentials(c.text, c.type, c.mode, c.user, c.password, c.connect);
  }
}

TEST(UserString, QuotesProtectAtSignsButNotSlashes) {
  ExpectCredentials("scott/\"ti@ger\"@orcl", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "\"ti@ger\"",
                    "orcl");
  ExpectCredentials("scott/\"ti@ger\"", OCI_CRED_RDBMS, OCI_DEFAULT, "scott", "\"ti@ger\"", "");
  // The slash inside quotes ends the name; the open quote carries over into the password, so
  // the next at sign outside quotes is the one after the closing quote.
  ExpectCredentials("\"sc/ott\"@x\"@db", OCI_CRED_RDBMS, OCI_DEFAULT, "\"sc", "ott\"", "x\"@db");
  ExpectCredentials("\"a@b\"/pw@db", OCI_CRED_RDBMS, OCI_DEFAULT, "\"a@b\"", "pw", "db");
}

TEST(UserString, ConnectIdentifierResolution) {
  ExpectCredentials("u/p@dbhost:1521/svc", OCI_CRED_RDBMS, OCI_DEFAULT, "u", "p",
                    "dbhost:1521/svc");
  ExpectCredentials("u/p@a:1:b:c", OCI_CRED_RDBMS, OCI_DEFAULT, "u", "p", "a:1:b:c");
  ExpectCredentials("u/p@dbhost:1521:ORCL", OCI_CRED_RDBMS, OCI_DEFAULT, "u", "p",
                    Descriptor("dbhost", "1521", "ORCL"));
  Parsed parsed = Parse("u/p@db1,db2:1521:ORCL");
  ASSERT_EQ(parsed.result, 0);
  std::string connect = parsed.credentials.connect;
  EXPECT_TRUE(connect == Descriptor("db1", "1521", "ORCL") ||
              connect == Descriptor("db2", "1521", "ORCL"))
      << connect;
}

TEST(UserString, OverLongPartsAreRefusedNeverCut) {
  const std::string name131(131, 'u'), pass131(131, 'p');
  ExpectCredentials(name131 + "/" + pass131, OCI_CRED_RDBMS, OCI_DEFAULT, name131, pass131, "");

  Parsed parsed = Parse(name131 + "u/pw");
  EXPECT_EQ(parsed.result, -1);
  EXPECT_NE(parsed.message.find("user name is longer than 131 bytes"), std::string::npos);
  EXPECT_EQ(parsed.message.back(), '\n');

  parsed = Parse("scott/" + pass131 + "p@db");
  EXPECT_EQ(parsed.result, -1);
  EXPECT_NE(parsed.message.find("password is longer than 131 bytes"), std::string::npos);

  // A password that external credentials never use is not checked.
  EXPECT_EQ(Parse("/" + pass131 + "p").result, 0);

  // The descriptor around host, port and SID takes 109 bytes: 146 bytes of SID fill 255.
  const size_t frame = Descriptor("h", "1", "").size();
  const std::string sid(255 - frame, 'S');
  ExpectCredentials("u/p@h:1:" + sid, OCI_CRED_RDBMS, OCI_DEFAULT, "u", "p",
                    Descriptor("h", "1", sid));
  parsed = Parse("u/p@h:1:" + sid + "S");
  EXPECT_EQ(parsed.result, -1);
  EXPECT_NE(parsed.message.find("connect string is longer than 255 bytes"), std::string::npos);
  EXPECT_EQ(Parse("u/p@" + std::string(256, 'n')).result, -1);
  EXPECT_EQ(Parse("u/p@sqlite:" + std::string(250, 'f')).result, -1);
}

// Reproduces the host choice: the generator seeded with the second of the call. Retries when
// the second changed during the call.
std::string PickAndPredict(const char* hosts, const std::vector<std::string>& entries,
                           std::string* predicted) {
  for (;;) {
    int64_t before = CurrentTimeSeconds();
    char out[64];
    int length = PickHost(out, sizeof(out), hosts);
    if (CurrentTimeSeconds() != before) continue;
    std::minstd_rand generator(static_cast<unsigned>(before));
    *predicted = entries[static_cast<size_t>(generator()) % entries.size()];
    return length < 0 ? "<none>" : std::string(out, static_cast<size_t>(length));
  }
}

TEST(HostChoice, EntriesAndSeededChoice) {
  std::string predicted;
  EXPECT_EQ(PickAndPredict("a,b,", {"a", "b,"}, &predicted), predicted);
  EXPECT_EQ(
      PickAndPredict("h1,h2,h3,h4,h5,h6,h7,h8,h9,h10,h11,h12:1521:X",
                     {"h1", "h2", "h3", "h4", "h5", "h6", "h7", "h8", "h9", "h10"}, &predicted),
      predicted);
  char out[8];
  EXPECT_EQ(PickHost(out, sizeof(out), "only,"), 5);
  EXPECT_EQ(std::string(out, 5), "only,");
  EXPECT_EQ(PickHost(out, sizeof(out), "single:1521:X"), 6);
  EXPECT_EQ(std::string(out, 6), "single");
  EXPECT_EQ(PickHost(out, 4, "toolong"), -1);
}

TEST(HostChoice, OnlyHostListsAreRewritten) {
  const char* const unchanged[] = {
      "orcl",
      "dbhost:1521/orcl:dedicated",
      "dbhost:1521/orcl",
      "dbhost/orcl:pooled",
      "tcps://dbhost:2484/orcl",
      "tcp://dbhost:1521/orcl",
      "[::1]:1521/orcl",
      "[fe80::1]:1521:ORCL",
      "dbhost:port:ORCL",
      "dbhost::ORCL",
      "dbhost:15x1:ORCL",
      "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=h)(PORT=1521))(CONNECT_DATA=(SID=S)))",
      "sqlite:/tmp/a:1:b.db",
  };
  for (const char* connect : unchanged) {
    char out[kMaxConnect + 1] = "";
    EXPECT_TRUE(ResolveConnect(out, sizeof(out), connect)) << connect;
    EXPECT_STREQ(out, connect);
  }
  char out[kMaxConnect + 1] = "";
  EXPECT_TRUE(ResolveConnect(out, sizeof(out), "dbhost:1521:ORCL"));
  EXPECT_EQ(std::string(out), Descriptor("dbhost", "1521", "ORCL"));
}

TEST(HostChoice, ResolveConnectAppendsOrLeavesOutputAlone) {
  char out[40] = "pre:";
  EXPECT_TRUE(ResolveConnect(out, sizeof(out), "svc"));
  EXPECT_STREQ(out, "pre:svc");
  EXPECT_FALSE(ResolveConnect(out, sizeof(out), "h:1:S"));
  EXPECT_STREQ(out, "pre:svc");
  char exact[8] = "";
  EXPECT_TRUE(ResolveConnect(exact, sizeof(exact), "1234567"));
  EXPECT_FALSE(ResolveConnect(exact, sizeof(exact), "x"));
  EXPECT_STREQ(exact, "1234567");
}

// ---- Messages -------------------------------------------------------------------------------

TEST(SessionMessages, DefaultCallbackWritesToTheSessionStream) {
  DbSession session;
  SessionInit(&session);
  EXPECT_EQ(session.messages, SessionStdout());
  EXPECT_EQ(session.callback, &DefaultCallback);
  EXPECT_EQ(session.callback_context, &session);
  EXPECT_EQ(session.status, 0);
  EXPECT_EQ(session.oci, nullptr);

  std::string path = TempPath("session_messages.txt");
  session.messages = OpenFileStream(path.c_str(), OpenMode::kTruncate);
  ASSERT_NE(session.messages, nullptr);
  SessionMessage(&session, "first\n");
  SessionMessage(&session, "second\n");
  // Written through at once, before the stream is closed.
  EXPECT_EQ(ReadFile(path), "first\nsecond\n");
  ASSERT_EQ(CloseStream(session.messages), 0);

  session.messages = nullptr;
  SessionMessage(&session, "dropped\n");  // no stream: silent
  DefaultCallback(nullptr, "dropped\n");  // no context: silent
  EXPECT_EQ(ReadFile(path), "first\nsecond\n");
}

// ---- Logon through the recording provider ----------------------------------------------------

class FakeLogon : public testing::Test {
 protected:
  void SetUp() override {
    SessionInit(&session_);
    session_.callback = CaptureMessage;
    session_.callback_context = &captured_;
    session_.oci = StartScriptedClient();
  }
  DbSession session_;
  std::vector<std::string> captured_;
};

constexpr char kFullLogon[] =
    "EnvNlsCreate HandleAlloc(2) HandleAlloc(8) HandleAlloc(3) ServerAttach AttrSet(6) "
    "HandleAlloc(9) AttrSet(22) AttrSet(23) SessionBegin AttrSet(7)";

TEST_F(FakeLogon, SequenceAndArguments) {
  session_.charset_id = 873;
  session_.ncharset_id = 2000;
  ASSERT_EQ(LogonUserString(&session_, "scott/tiger@db1:1521:ORCL"), 0);
  EXPECT_EQ(CallLog(), kFullLogon);
  EXPECT_EQ(Scripted().attach_connect, Descriptor("db1", "1521", "ORCL"));
  EXPECT_EQ(Scripted().username, "scott");
  EXPECT_EQ(Scripted().password, "tiger");
  EXPECT_EQ(Scripted().credential_type, OCI_CRED_RDBMS);
  EXPECT_EQ(Scripted().session_mode, OCI_DEFAULT);
  EXPECT_EQ(Scripted().charset_id, 873);
  EXPECT_EQ(Scripted().ncharset_id, 2000);
  EXPECT_NE(session_.user_session, nullptr);
  EXPECT_TRUE(captured_.empty());

  ClearCallLog();
  EXPECT_EQ(Logoff(&session_), 0);
  EXPECT_EQ(CallLog(), "SessionEnd ServerDetach HandleFree(1)");
  EXPECT_EQ(session_.environment, nullptr);
  EXPECT_EQ(session_.oci, nullptr);
  ClearCallLog();
  EXPECT_EQ(Logoff(&session_), 0);  // a second logoff touches nothing
  EXPECT_EQ(CallLog(), "");
}

TEST_F(FakeLogon, SysdbaLogonWithPasswordReachesTheNamedDatabase) {
  ASSERT_EQ(LogonUserString(&session_, "Sys/pw@orcl"), 0);
  EXPECT_EQ(Scripted().attach_connect, "orcl");
  EXPECT_EQ(Scripted().username, "Sys");
  EXPECT_EQ(Scripted().password, "pw");
  EXPECT_EQ(Scripted().credential_type, OCI_CRED_RDBMS);
  EXPECT_EQ(Scripted().session_mode, OCI_SYSDBA);
  Logoff(&session_);
}

// Only a failed environment is reported: without an error handle the later failures have no
// text to give, and the client returned no environment to ask.
TEST_F(FakeLogon, HandleCreationFailures) {
  struct Step {
    const char* call;
    const char* logoff;  // what the logoff after the failure releases
    bool said;           // the environment failure message was passed on
  };
  const Step steps[] = {{"EnvNlsCreate", "", true},
                        {"HandleAlloc(2)", "HandleFree(1)", false},
                        {"HandleAlloc(8)", "HandleFree(1)", false},
                        {"HandleAlloc(3)", "ServerDetach HandleFree(1)", false}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.call);
    captured_.clear();
    session_.oci = StartScriptedClient();
    FakeOci::Get().Fail(step.call, 1);
    Scripted().error_code = 1017;  // must not be asked for
    Scripted().error_text = "ORA-01017: invalid username/password; logon denied\n";
    EXPECT_EQ(LogonUserString(&session_, "scott/tiger@orcl"), -1);
    EXPECT_EQ(CallLog().find("ErrorGet"), std::string::npos);
    EXPECT_EQ(captured_, step.said ? std::vector<std::string>{messages::kNoEnvironment}
                                   : std::vector<std::string>{});
    ClearCallLog();
    Logoff(&session_);
    EXPECT_EQ(CallLog(), step.logoff);
  }
}

TEST_F(FakeLogon, LaterFailuresReportTheOracleTextOnceAndLogoffCleansUp) {
  const char* kText = "ORA-01017: invalid username/password; logon denied\n";
  struct Step {
    const char* call;
    int occurrence;
    const char* logoff;
  };
  const Step steps[] = {
      {"ServerAttach", 1, "ServerDetach HandleFree(1)"},
      {"AttrSet(6)", 1, "ServerDetach HandleFree(1)"},
      {"HandleAlloc(9)", 1, "ServerDetach HandleFree(1)"},
      {"AttrSet(22)", 1, "SessionEnd ServerDetach HandleFree(1)"},
      {"AttrSet(23)", 1, "SessionEnd ServerDetach HandleFree(1)"},
      {"SessionBegin", 1, "SessionEnd ServerDetach HandleFree(1)"},
      {"AttrSet(7)", 1, "SessionEnd ServerDetach HandleFree(1)"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.call);
    session_.oci = StartScriptedClient();
    captured_.clear();
    FakeOci::Get().Fail(step.call, step.occurrence);
    Scripted().error_code = 1017;
    Scripted().error_text = kText;
    EXPECT_EQ(LogonUserString(&session_, "scott/wrong@orcl"), -1);
    ASSERT_EQ(captured_.size(), 1u);
    EXPECT_EQ(captured_[0], kText);
    EXPECT_EQ(session_.last_error_code, 1017);
    // Nothing after the failing step was attempted.
    std::string log = CallLog();
    EXPECT_EQ(log.substr(log.size() - strlen("ErrorGet")), "ErrorGet");
    ClearCallLog();
    Logoff(&session_);
    EXPECT_EQ(CallLog(), step.logoff);
  }
}

TEST_F(FakeLogon, RefusedUserStringMakesNoClientCall) {
  EXPECT_EQ(LogonUserString(&session_, (std::string(140, 'u') + "/pw").c_str()), -1);
  ASSERT_EQ(captured_.size(), 1u);
  EXPECT_NE(captured_[0].find("logon refused"), std::string::npos);
  EXPECT_EQ(CallLog(), "");
}

TEST_F(FakeLogon, ReportErrorPassesTheTextVerbatim) {
  ASSERT_EQ(LogonUserString(&session_, "scott/tiger"), 0);
  // No record: nothing passed on, 0.
  EXPECT_EQ(ReportError(&session_), 0);
  EXPECT_TRUE(captured_.empty());

  Scripted().error_code = 942;
  Scripted().error_text = "ORA-00942: table or view does not exist\n";
  EXPECT_EQ(ReportError(&session_), 942);
  EXPECT_EQ(ReportError(&session_), 942);  // reported twice, printed twice
  ASSERT_EQ(captured_.size(), 2u);
  EXPECT_EQ(captured_[0], "ORA-00942: table or view does not exist\n");
  EXPECT_EQ(captured_[1], captured_[0]);

  // A text that fills the whole buffer reaches the callback terminated.
  Scripted().error_text_fills_buffer = true;
  EXPECT_EQ(ReportError(&session_), 942);
  EXPECT_EQ(captured_.back(), std::string(511, 'x'));

  // The fields are cleared by the next fetch that finds nothing.
  Scripted().error_code = 0;
  EXPECT_EQ(ReportError(&session_), 0);
  EXPECT_EQ(session_.last_error_code, 0);
  EXPECT_EQ(session_.last_error_text[0], '\0');
  Logoff(&session_);
}

TEST_F(FakeLogon, CharacterSetIds) {
  uint16_t charset_id = 1, ncharset_id = 1;
  ResolveCharsetIds(&session_, "AL32UTF8", "", &charset_id, &ncharset_id);
  EXPECT_EQ(charset_id, 0);  // not logged on: client default
  ASSERT_EQ(LogonUserString(&session_, "scott/tiger"), 0);
  ResolveCharsetIds(&session_, "AL32UTF8", "", &charset_id, &ncharset_id);
  EXPECT_EQ(charset_id, 873);
  EXPECT_EQ(ncharset_id, 873);  // an empty national name takes the character set id
  ResolveCharsetIds(&session_, "NOSUCH", "AL32UTF8", &charset_id, &ncharset_id);
  EXPECT_EQ(charset_id, 0);
  EXPECT_EQ(ncharset_id, 873);
  Logoff(&session_);
}

// ---- The client library loader -----------------------------------------------------------------

TEST(ClientLoader, MissingClientGivesOneMessageNamingEveryFile) {
  char message[2048];
  const OciApi* api = ClientLibraryApi(message, sizeof(message));
  if (api != nullptr) GTEST_SKIP() << "an Oracle client library is installed: " << api->provider;
  std::string text = message;
  for (const char* file :
       {"libclntsh.so,", "libclntsh.so.23.1", "libclntsh.so.21.1", "libclntsh.so.20.1",
        "libclntsh.so.19.1", "libclntsh.so.18.1", "libclntsh.so.12.1", "libclntsh.so.11.1"}) {
    EXPECT_NE(text.find(file), std::string::npos) << file << " missing from: " << text;
  }
  EXPECT_NE(text.find("Instant Client"), std::string::npos) << text;
  EXPECT_NE(text.find("LD_LIBRARY_PATH"), std::string::npos) << text;
  EXPECT_NE(text.find("sqlite:"), std::string::npos) << text;
  // The loader's own words for the first file.
  EXPECT_NE(text.find("libclntsh.so: cannot open shared object file"), std::string::npos) << text;

  // A logon that needs the client passes the same message, with a line feed, and fails.
  DbSession session;
  SessionInit(&session);
  std::vector<std::string> captured;
  session.callback = CaptureMessage;
  session.callback_context = &captured;
  EXPECT_EQ(LogonChosenClient(&session, "scott/tiger@orcl"), -1);
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0], text + "\n");
  EXPECT_EQ(session.environment, nullptr);
  EXPECT_EQ(Logoff(&session), 0);
}

// Each logon reports exactly one failure, the first that applies: a refused user string before
// any client is chosen, and a session given no table fails without a client call.
TEST(ClientLoader, LogonReportsTheFirstFailureOnly) {
  const std::string long_user = std::string(140, 'u') + "/pw@orcl";
  const struct {
    bool chosen;  // through the run layer's chooser, else with no table set
    const char* user_string;
    std::string message;
  } cases[] = {
      {true, long_user.c_str(), "logon refused"},
      {false, "scott/tiger@orcl", std::string(messages::kNoProvider) + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.user_string);
    DbSession session;
    SessionInit(&session);
    std::vector<std::string> captured;
    session.callback = CaptureMessage;
    session.callback_context = &captured;
    EXPECT_EQ(c.chosen ? LogonChosenClient(&session, c.user_string)
                       : LogonUserString(&session, c.user_string),
              -1);
    ASSERT_EQ(captured.size(), 1u);
    EXPECT_NE(captured[0].find(c.message), std::string::npos) << captured[0];
    EXPECT_EQ(session.oci, nullptr);
    EXPECT_EQ(session.environment, nullptr);
  }
}

TEST(ClientLoader, ProviderFollowsTheConnectIdentifier) {
  EXPECT_TRUE(IsEmbeddedConnect("sqlite:demo.db"));
  EXPECT_TRUE(IsEmbeddedConnect("sqlite:"));
  EXPECT_FALSE(IsEmbeddedConnect("SQLITE:demo.db"));
  EXPECT_FALSE(IsEmbeddedConnect("orcl"));
  EXPECT_FALSE(IsEmbeddedConnect(nullptr));
  char message[2048];
  ASSERT_NE(EmbeddedApi(), nullptr);
  EXPECT_EQ(SelectProvider("sqlite:demo.db", message, sizeof(message)), EmbeddedApi());

  // The named database is reached with the credentials the user string gives: SYS with a
  // password is checked against the database's accounts, external credentials are not.
  std::string path =
      MakeDatabase("session_embedded",
                   "CREATE TABLE rowflume_accounts(username, password);"
                   "INSERT INTO rowflume_accounts VALUES('SYS', 'change_on_install');");
  const struct {
    const char* user;
    int result;
    const char* session_user;
  } logons[] = {
      {"/@sqlite:", 0, "OPS$"},
      {"sys@sqlite:", 0, "SYS"},
      {"sys/change_on_install@sqlite:", 0, "SYS"},
      {"sys/wrong@sqlite:", -1, ""},
  };
  for (const auto& logon : logons) {
    SCOPED_TRACE(logon.user);
    DbSession session;
    SessionInit(&session);
    std::vector<std::string> captured;
    session.callback = CaptureMessage;
    session.callback_context = &captured;
    ASSERT_EQ(LogonChosenClient(&session, (logon.user + path).c_str()), logon.result);
    EXPECT_EQ(session.oci, EmbeddedApi());
    if (logon.result == 0) {
      char name[30];
      EXPECT_EQ(QueryCurrentUser(&session, name), 0);
      EXPECT_EQ(std::string(name).rfind(logon.session_user, 0), 0u) << name;
    } else {
      ASSERT_EQ(captured.size(), 1u);
      EXPECT_EQ(captured[0].rfind("ORA-01017", 0), 0u) << captured[0];
    }
    Logoff(&session);
  }
  std::remove(path.c_str());
}

}  // namespace
}  // namespace rowflume
