#include "main/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "job/command_line.h"
#include "scramble/scramble.h"
#include "support/files.h"
#include "support/job.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string BannerLine(StoredText which) {
  unsigned char block[kMaxStoredTextBytes] = {};
  LoadStoredText(which, block);
  return reinterpret_cast<const char*>(block);
}

std::string UsageText(bool help) {
  std::string lines[3] = {BannerLine(StoredText::kBannerLine1),
                          BannerLine(StoredText::kBannerLine2),
                          BannerLine(StoredText::kBannerLine3)};
  const char* banner[3] = {lines[0].c_str(), lines[1].c_str(), lines[2].c_str()};
  FILE* out = std::tmpfile();
  WriteUsage(out, banner, help);
  std::string text(static_cast<size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  EXPECT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
  std::fclose(out);
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
