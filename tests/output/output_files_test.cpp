#include "output/output_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/messages.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

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

  std::string command = "-" + CopyToFileCommand(dir + "/cmd.txt");
  out = OpenOutput(command.c_str(), expanded, 1, 1);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(WriteAll(out, "piped\n", 6));
  ASSERT_EQ(CloseStream(out), 0);  // waits for the command
  EXPECT_EQ(ReadFile(dir + "/cmd.txt"), "piped\n");

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

// Row counts past 2^32 - 1 reach the progress and close lines whole, in the builds whose long
// and size_t are 32 bits too.
TEST(OutputFiles, CountsPastTwoToThe32InMessages) {
  std::vector<std::string> messages;
  DbSession session{};
  session.callback = CaptureMessage;
  session.callback_context = &messages;
  for (uint64_t rows :
       {uint64_t{4294967296}, uint64_t{4294967295} + 1000000, uint64_t{999999999999}}) {
    messages.clear();
    ReportProgress(&session, rows, 5000.4);
    ReportFileClosed(&session, "big.txt", rows, 5000.4);
    ASSERT_EQ(messages.size(), 2u);
    std::string text = std::to_string(rows);
    EXPECT_EQ(messages[0].substr(0, 29),
              std::string(12 - text.size(), ' ') + text + " rows exported at")
        << messages[0];
    EXPECT_EQ(messages[0].substr(messages[0].size() - 16), ", size 5000 MB.\n");
    EXPECT_EQ(messages[1],
              "         output file big.txt closed at " + text + " rows, size 5000 MB.\n");
  }
}

}  // namespace
}  // namespace rowflume
