#include "output/output_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/messages.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string Expand(const std::string& pattern, int sequence, int piece = 1) {
  char expanded[kExpandedNameBytes];
  EXPECT_TRUE(ExpandOutputName(pattern.c_str(), expanded, sequence, piece));
  return expanded;
}

std::string Two(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

TEST(OutputNames, EveryFieldInEitherCase) {
  LocalTime now = CurrentLocalTime();
  std::string date = std::to_string(now.year) + Two(now.month) + Two(now.day);
  EXPECT_EQ(Expand("data_%Y%m%d_%b.txt", 1), "data_" + date + "_1.txt");
  EXPECT_EQ(Expand("data_%y%M%D_%B.txt", 3), "data_" + date + "_3.txt");
  EXPECT_EQ(Expand("x%p.%P", 1, 7), "x7.7");
  std::string weekdays = "w";
  weekdays += std::to_string(now.weekday);
  weekdays += std::to_string(now.weekday);
  EXPECT_EQ(Expand("w%w%W", 1), weekdays);
  int64_t before = CurrentTimeSeconds();
  std::string stamped = Expand("t%T", 1);
  long long seconds = std::stoll(stamped.substr(1));
  EXPECT_GE(seconds, static_cast<int32_t>(before));
  EXPECT_LE(seconds, static_cast<int32_t>(before) + 5);
  EXPECT_EQ(Expand("tarndata.%p.txt", 1), "tarndata.1.txt");
}

TEST(OutputNames, PercentRules) {
  EXPECT_EQ(Expand("a%%b", 1), "a%b");
  EXPECT_EQ(Expand("a%Hb", 1), "aHb");
  EXPECT_EQ(Expand("ab%", 1), "ab");
  EXPECT_EQ(Expand("%", 1), "");
}

TEST(OutputNames, LaterFilesWithoutSequenceFieldGetTheirNumber) {
  EXPECT_EQ(Expand("emp.csv", 1), "emp.csv");
  EXPECT_EQ(Expand("emp.csv", 2), "emp_2.csv");
  EXPECT_EQ(Expand("out.d/emp.tar.gz", 3), "out.d/emp.tar_3.gz");
  EXPECT_EQ(Expand("out.d/emp", 2), "out.d/emp_2");
  EXPECT_EQ(Expand("dir/.hidden", 2), "dir/.hidden_2");
  // "%%b" is a literal percent sign and b, not the sequence field.
  EXPECT_EQ(Expand("e%%b.txt", 2), "e%b_2.txt");
  // The sequence field, appending and commands keep their names.
  EXPECT_EQ(Expand("emp_%b.csv", 2), "emp_2.csv");
  EXPECT_EQ(Expand("+all.txt", 2), "+all.txt");
  EXPECT_EQ(Expand("-gzip > x.gz", 2), "-gzip > x.gz");
  // The log file is opened with sequence number 0.
  EXPECT_EQ(Expand("run.log", 0), "run.log");
}

TEST(OutputNames, NamesOverTheLimitAreRefused) {
  char expanded[kExpandedNameBytes];
  std::string fits(kMaxExpandedName, 'a');
  EXPECT_TRUE(ExpandOutputName(fits.c_str(), expanded, 1, 1));
  EXPECT_EQ(std::string(expanded), fits);
  std::string pattern(250, 'b');
  pattern +=
      "%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y"
      "%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y";
  OpenFailure failure = OpenFailure::kNone;
  EXPECT_EQ(OpenOutput(pattern.c_str(), expanded, 1, 1, &failure), nullptr);
  EXPECT_EQ(failure, OpenFailure::kNameTooLong);
  EXPECT_EQ(std::strlen(expanded), size_t{kMaxExpandedName});
  EXPECT_EQ(std::string(expanded, 250), std::string(250, 'b'));
  // A name that fits only without the sequence suffix is refused too.
  EXPECT_FALSE(ExpandOutputName(fits.c_str(), expanded, 2, 1));
}

TEST(OutputFiles, TruncateAppendAndCommand) {
  std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  char expanded[kExpandedNameBytes];
  std::string path = dir + "/f.txt";
  for (const char* text : {"old\n", "new\n"}) {
    OutputStream* out = OpenOutput(path.c_str(), expanded, 1, 1);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(WriteAll(out, text, 4));
    ASSERT_EQ(CloseStream(out), 0);
  }
  EXPECT_EQ(ReadFile(path), "new\n");
  std::string append = "+" + path;
  OutputStream* out = OpenOutput(append.c_str(), expanded, 1, 1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::string(expanded), append);
  ASSERT_TRUE(WriteAll(out, "more\n", 5));
  ASSERT_EQ(CloseStream(out), 0);
  EXPECT_EQ(ReadFile(path), "new\nmore\n");

  std::string command = "-tr a-z A-Z > " + dir + "/cmd.txt";
  out = OpenOutput(command.c_str(), expanded, 1, 1);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(WriteAll(out, "piped\n", 6));
  ASSERT_EQ(CloseStream(out), 0);  // waits for the command
  EXPECT_EQ(ReadFile(dir + "/cmd.txt"), "PIPED\n");

  OpenFailure failure = OpenFailure::kNone;
  std::string missing = dir + "/no/such/dir/x.txt";
  EXPECT_EQ(OpenOutput(missing.c_str(), expanded, 1, 1, &failure), nullptr);
  EXPECT_EQ(failure, OpenFailure::kCannotOpen);
  EXPECT_EQ(std::string(expanded), missing);
}

TEST(OutputFiles, MessageTexts) {
  std::vector<std::string> messages;
  DbSession session{};
  session.callback = CaptureMessage;
  session.callback_context = &messages;
  ReportProgress(&session, 1000000, 12.6);
  ReportFileClosed(&session, "+all.txt", 42, 0.4);
  ReportOpenFailure(&session, "x/y.txt", OpenFailure::kCannotOpen);
  ReportOpenFailure(&session, "zz", OpenFailure::kNameTooLong);
  ASSERT_EQ(messages.size(), 5u);
  const std::string& progress = messages[0];
  EXPECT_EQ(progress.substr(0, 29), "     1000000 rows exported at");
  EXPECT_EQ(progress.size(), size_t{12 + 18 + 19 + 14});
  EXPECT_EQ(progress.substr(progress.size() - 14), ", size 13 MB.\n");
  EXPECT_EQ(messages[1], "         output file +all.txt closed at 42 rows, size 0 MB.\n");
  EXPECT_EQ(messages[2], "ERROR -- Cannot write to file : x/y.txt\n");
  EXPECT_NE(messages[3].find("longer than 511"), std::string::npos);
  EXPECT_EQ(messages[4], "ERROR -- Cannot write to file : zz\n");
  // Without a callback nothing is reported and nothing fails.
  session.callback = nullptr;
  ReportProgress(&session, 1, 0);
  EXPECT_EQ(messages.size(), 5u);
}

}  // namespace
}  // namespace rowflume
