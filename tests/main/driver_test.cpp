#include "main/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "job/command_line.h"
#include "scramble/scramble.h"
#include "support/files.h"
#include "support/job.h"
#include "support/program_run.h"
#include "support/sqlite_file.h"
#include "version.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string BannerLine(StoredText which) {
  unsigned char block[kMaxStoredTextBytes] = {};
  LoadStoredText(which, block);
  return reinterpret_cast<const char*>(block);
}

// The usage text the program prints, from its golden file (with or without every keyword); the
// file names the release as @PROJECT_VERSION@, so that a new version changes no golden file.
std::string UsageText(bool help) {
  std::string text = ReadFile(std::string(ROWFLUME_SOURCE_DIR) + "/tests/main/golden/" +
                              (help ? "usage_help.txt" : "usage.txt"));
  const std::string placeholder = "@PROJECT_VERSION@";
  const size_t at = text.find(placeholder);
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) text.replace(at, placeholder.size(), ROWFLUME_VERSION);
  return text;
}

std::string CryptLine(const std::string& user) {
  char line[256];
  int length = FormatScrambledUserString("user=", user.c_str(), line, sizeof(line));
  EXPECT_GT(length, 0);
  return std::string(line, static_cast<size_t>(length > 0 ? length : 0));
}

// Prepares a job in this process; only for arguments that neither print nor read stdin.
int Prepare(UnloadHandle* job, std::vector<std::string> args) {
  Argv argv(std::move(args));
  return PrepareCommandLineJob(job, argv.argc(), argv.argv());
}

TEST(Driver, UsageWithoutQueryOrSplit) {
  for (const std::string& banner :
       {BannerLine(StoredText::kBannerLine1), BannerLine(StoredText::kBannerLine2),
        BannerLine(StoredText::kBannerLine3)}) {
    ASSERT_FALSE(banner.empty());
    for (char c : banner) ASSERT_TRUE(c >= 0x20 && c < 0x7f) << "banner not plain: " << banner;
  }
  ProgramRun run = RunProgram(".", {});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, UsageText(false));
  EXPECT_EQ(run.err, "");

  run = RunProgram(".", {"help=yes"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, UsageText(true));
  EXPECT_NE(run.out.find("   uncrack = The uncrack key"), std::string::npos);

  // The same item from a parameter file read on standard input.
  run = RunProgram(".", {"parfile=-"}, "help=yes\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, UsageText(true));

  // A SQL text on standard input that is only the end line leaves the query empty.
  run = RunProgram(".", {"sql=-"}, "/\nselect 1 from dual\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, UsageText(false));
}

// The usage text is the golden file's, byte for byte, on standard output only: all of it for
// --help (status 0), the keywords of a typical run for a bare call (status 1), the stored
// banner lines in their places above the keywords.
TEST(Driver, UsageTextIsTheGoldenFile) {
  struct Case {
    std::vector<std::string> args;
    int status;
    bool help;
  };
  for (const Case& c : {Case{{}, 1, false}, Case{{"--help"}, 0, true}}) {
    ProgramRun run = RunProgram(".", c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, UsageText(c.help));
    EXPECT_EQ(run.err, "");
  }
}

TEST(Driver, QueryGoesOnToTheDatabaseStep) {
  // Without an Oracle client on the machine the logon check fails with one clear message and
  // status 1, before any output file exists.
  ProgramRun run = RunProgram(".", {"scott/tiger@orcl", "sql=-", "file=never_written.txt"},
                              "select 1 from dual\n/\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("ERROR -- Cannot load the Oracle client library.", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("Files tried: "), std::string::npos) << run.out;  // db tests each name
  EXPECT_NE(run.out.find("sqlite:"), std::string::npos);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(std::fopen("never_written.txt", "rb"), nullptr);

  auto job = std::make_unique<UnloadHandle>();
  EXPECT_EQ(Prepare(job.get(), {"scott/tiger@db", "query=emp", ":id=7"}), 0);
  EXPECT_STREQ(job->user, "scott/tiger@db");
  EXPECT_STREQ(job->query, "emp");
  EXPECT_EQ(job->bind_count, 1);

  EXPECT_EQ(Prepare(job.get(), {"split=EMP"}), 0);
  EXPECT_STREQ(job->user, "/");
  EXPECT_STREQ(job->split, "EMP");
}

// The conventions of command-line tools beside the keywords: version and help succeed, a bare
// call still shows the keywords and fails.
TEST(Driver, VersionAndHelpSucceed) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const Case cases[] = {
      {{"--version"}, 0, std::string("rowflume ") + ROWFLUME_VERSION + "\n"},
      {{"-V"}, 0, std::string("rowflume ") + ROWFLUME_VERSION + "\n"},
      {{"--help"}, 0, UsageText(true)},
      {{"user=scott/tiger", "-h"}, 0, UsageText(true)},
      {{}, 1, UsageText(false)},
  };
  for (const Case& c : cases) {
    ProgramRun run = RunProgram(".", c.args);
    EXPECT_EQ(run.status, c.status) << c.out;
    EXPECT_EQ(run.out, c.out);
  }
  EXPECT_NE(BannerLine(StoredText::kBannerLine1).find(ROWFLUME_VERSION), std::string::npos);
}

// Once read, a password is no longer in the arguments (which ps shows every user of the
// machine), while the job keeps it; nothing else of the command line changes.
TEST(Driver, PasswordsLeaveTheArguments) {
  const std::string scrambled(80, 'a');  // all hex: a scrambled user string
  struct Case {
    std::string arg;
    std::string shown;   // the argument afterwards, up to its first NUL
    bool first = false;  // given in first position, without keyword
  };
  const Case cases[] = {
      {"user=scott/tiger@orcl", "user=scott/***@orcl"},
      {"USER = scott/tiger", "USER = scott/***"},
      {"user=scott/t@orcl", "user=scott/*@orcl"},
      {"user=sys/\"p@ss\"@db", "user=sys/***@db"},
      {"user=scott/ti@ger@orcl", "user=scott/***@orcl"},  // the logon takes "ger@orcl" whole
      {"user=scott@orcl", "user=scott@orcl"},
      {"user=/", "user=/"},
      {"user=" + scrambled, "user=***"},
      {"scott/tiger@sqlite:demo.db", "scott/***@sqlite:demo.db", true},
      {"query=scott/tiger@x", "query=scott/tiger@x"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"query=emp", c.arg};
    if (c.first) std::swap(args[0], args[1]);
    Argv argv(args);
    auto job = std::make_unique<UnloadHandle>();
    PrepareCommandLineJob(job.get(), argv.argc(), argv.argv());
    const char* shown = argv.argv()[c.first ? 1 : 2];
    EXPECT_EQ(std::string(shown), c.shown) << c.arg;
    // The freed bytes are cleared, so no part of the password stays in the argument's memory.
    if (c.shown != c.arg) {
      const std::string memory(shown, c.arg.size());
      EXPECT_EQ(memory.find("tiger"), std::string::npos) << c.arg;
      EXPECT_EQ(memory.find(scrambled), std::string::npos);
    }
    if (c.arg.find("query=") != 0 && c.arg.rfind('/') != std::string::npos && c.arg != "user=/") {
      EXPECT_NE(std::string(job->user).find('/'), std::string::npos) << c.arg;
    }
  }
}

#if defined(__linux__)
// What other users see of a running unload: /proc/PID/cmdline, read while it runs.
TEST(Driver, RunningUnloadShowsNoPassword) {
  const std::string dir = MakeTempDir();
  ASSERT_TRUE(SqliteFile(dir + "/t.db").Exec("CREATE TABLE T (X NUMBER);"));
  ProgramRun run = RunShell(dir, ShellQuote(ROWFLUME_BINARY) +
                                     " user=scott/tiger@sqlite:t.db "
                                     "query=t "
                                     "'file=-sleep 2; cat >/dev/null' & sleep 0.5; "
                                     "tr '\\0' ' ' < /proc/$!/cmdline; wait");
  EXPECT_NE(run.out.find("user=scott/***@sqlite:"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("tiger"), std::string::npos) << run.out;
}

// The command line other users see while the program waits for a parameter file on standard
// input: the secrets are hidden before anything is read, and not even their length shows.
TEST(Driver, WaitingProgramShowsNoPasswordNorItsLength) {
  const std::string program = ROWFLUME_BINARY;
  struct Case {
    std::vector<std::string> args;
    std::string cmdline;  // /proc/PID/cmdline, whole
  };
  const Case cases[] = {
      {{"user=scott/tiger@orcl", "parfile=-", "query=emp"},
       program + " user=scott/***@orcl parfile=- query=emp" + '\0'},
      {{"user=scott/ti@ger@orcl", "parfile=-"}, program + " user=scott/***@orcl parfile=-" + '\0'},
      {{"scott/" + std::string(300, 'p') + "@db", "parfile=-"},
       program + " scott/***@db parfile=-" + '\0'},
      // Without a secret the arguments stay as they were given.
      {{"query=emp", "parfile=-"}, program + '\0' + "query=emp" + '\0' + "parfile=-" + '\0'},
  };
  for (const Case& c : cases) {
    StartedProgram* started = StartProgramOnOpenInput(".", c.args);
    ASSERT_NE(started, nullptr);
    const std::string proc = "/proc/" + std::to_string(ProgramId(started));
    // Once it sleeps, the program started from this binary waits on its standard input.
    auto waiting = [&proc, &program] {
      const std::string stat = ReadFile(proc + "/stat");
      return stat.find(") S ") != std::string::npos &&
             std::filesystem::read_symlink(proc + "/exe") == program;
    };
    for (int tries = 0; tries < 500 && !waiting(); ++tries) usleep(10000);
    EXPECT_EQ(ReadFile(proc + "/cmdline"), c.cmdline);
    EXPECT_TRUE(KillProgram(started));
  }
}
#endif

TEST(Driver, CryptPrintsOneLineAndStops) {
  ProgramRun run = RunProgram(".", {"crypt=yes", "user=scott/tiger@orcl", "query=emp"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, CryptLine("scott/tiger@orcl"));
  EXPECT_EQ(run.out.size(), 5u + 32u + 1u);  // 16 characters: two 8-byte blocks
  EXPECT_EQ(run.err, "");

  run = RunProgram(".", {"crypt=on"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, CryptLine("/"));
  EXPECT_EQ(run.out.size(), 5u + 16u + 1u);
}

TEST(Driver, CryptOutputGivenBackAsUser) {
  const std::string user = "system/manager_password@dbhost:1521:ORCL";  // 40 characters
  ProgramRun run = RunProgram(".", {"user=" + user, "crypt=yes"});
  ASSERT_EQ(run.status, 1);
  ASSERT_EQ(run.out.rfind("user=", 0), 0u);
  std::string digits;
  for (char c : run.out.substr(5)) {
    if (c != '\n') digits += c;
  }
  ASSERT_EQ(digits.size(), 80u);

  auto job = std::make_unique<UnloadHandle>();
  EXPECT_EQ(Prepare(job.get(), {"user=" + digits, "query=emp"}), 0);
  EXPECT_STREQ(job->user, user.c_str());

  std::string upper = digits;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_NE(upper, digits);
  std::memset(job.get(), 0, sizeof(UnloadHandle));
  EXPECT_EQ(Prepare(job.get(), {"user=" + upper, "query=emp"}), 0);
  EXPECT_STREQ(job->user, user.c_str());

  // Not all hex: used as it is.
  EXPECT_EQ(Prepare(job.get(), {"user=abc/def", "query=emp"}), 0);
  EXPECT_STREQ(job->user, "abc/def");
}

TEST(Driver, UncrackWritesThePlainFile) {
  std::string plain;
  for (int idx = 0; idx < 40000; ++idx) plain += static_cast<char>('a' + idx % 23);
  std::string scrambled = plain;
  char key[32] = "k3y";
  int processed = ContentScramble(scrambled.data(), static_cast<int>(scrambled.size()), key);
  ASSERT_EQ(processed, 39992);
  std::string path = TempPath("scrambled.txt");
  WriteFile(path, scrambled);

  ProgramRun run = RunProgram(".", {"uncrack=k3y", "file=" + path, "query=ignored"});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out == plain);

  run = RunProgram(".", {"uncrack=k3y", "file=-"}, scrambled);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.out == plain);
  unlink(path.c_str());
}

}  // namespace
}  // namespace rowflume
