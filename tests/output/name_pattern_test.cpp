// Output file name patterns: the fields of an output name, the number of later files, the piece
// field of a parallel unload's files, and the length limit.
#include "output/name_pattern.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "output/output_files.h"

namespace rowflume {
namespace {

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

TEST(ParallelNames, EveryPieceGetsAFileOfItsOwn) {
  auto pattern = [](const char* text, size_t capacity = 255) {
    char buffer[300];
    std::snprintf(buffer, sizeof buffer, "%s", text);
    bool fits = PiecePattern(buffer, capacity);
    return std::string(fits ? "" : "!") + buffer;
  };
  EXPECT_EQ(pattern("data.txt"), "data_%p.txt");
  EXPECT_EQ(pattern("out.tar.gz"), "out.tar_%p.gz");
  EXPECT_EQ(pattern("dir.d/data"), "dir.d/data_%p");
  EXPECT_EQ(pattern(".hidden"), ".hidden_%p");
  EXPECT_EQ(pattern("+all.csv"), "+all_%p.csv");
  EXPECT_EQ(pattern("tarndata.%p.txt"), "tarndata.%p.txt");
  EXPECT_EQ(pattern("x_%P"), "x_%P");
  EXPECT_EQ(pattern("-gzip -c"), "-gzip -c");
  EXPECT_EQ(pattern("%%p.txt"), "%%p_%p.txt");  // "%%p" is a literal p, not the field
  EXPECT_EQ(pattern(""), "");
  EXPECT_EQ(pattern("abcdef.txt", 14), "abcdef_%p.txt");
  EXPECT_EQ(pattern("abcdef.txt", 13), "!abcdef.txt");
}

// Two numbers a run varies may not stand with only digits between them: the names of piece 1's
// file 12 and piece 11's file 2 would be one. A letter, "%%" or a fixed text between them parts
// them; digits, and the date and time fields, which are digits too, do not.
TEST(ParallelNames, NumbersThatRunTogetherAreAmbiguous) {
  const std::pair<const char*, bool> cases[] = {
      {"o%p%b.txt", true},   {"o%B%P.txt", true},  {"o%p1%b.txt", true}, {"o%p%d%t%b", true},
      {"o%p_%b.txt", false}, {"o%p%%%b", false},   {"%p.%b", false},     {"o%p%x%b", false},
      {"o%p%p.txt", false},  {"o%b%b.txt", false}, {"%p", false},        {"o%p%", false},
  };
  for (auto [pattern, ambiguous] : cases) {
    EXPECT_EQ(HasAmbiguousNumbers(pattern, true, true), ambiguous) << pattern;
  }
  // A number the run keeps (the one piece of a serial run, the one file of an unsplit one)
  // joins no other.
  EXPECT_FALSE(HasAmbiguousNumbers("o%p%b.txt", false, true));
  EXPECT_FALSE(HasAmbiguousNumbers("o%p%b.txt", true, false));
}

}  // namespace
}  // namespace rowflume
