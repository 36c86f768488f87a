// Split plans as files: what one host writes another reads back exactly, and a plan that was
// damaged, cut short or edited into something else is never half used.
#include "parallel/split_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace rowflume {
namespace {

SplitPlan ThreePieces() {
  SplitPlan plan = {};
  std::strcpy(plan.owner, "SCOTT");
  std::strcpy(plan.table, "Mixed Case");
  std::strcpy(plan.scn, "8123456789");
  plan.degree = 4;
  plan.segments.count = 3;
  plan.segments.lowest = 74732;
  plan.segments.highest = 74736;
  plan.segments.digest = 0x9c2e0b1e5d3f0a77ULL;
  plan.ranges.count = 3;
  const char* bounds[][2] = {{"AAAR3sAAEAAAACXAAA", "AAAR3sAAEAAAACfAAA"},
                             {"AAAR3sAAEAAAACfAAA", "AAAR3sAAEAAAAC+/AA"},
                             {"AAAR3sAAEAAAAC+/AA", "AAAR3sAAEAAAADzAAA"}};
  for (uint32_t idx = 0; idx < 3; ++idx) {
    plan.ranges.ranges[idx].seq = idx + 2;  // numbers need not start at 1
    std::strcpy(plan.ranges.ranges[idx].min_rowid, bounds[idx][0]);
    std::strcpy(plan.ranges.ranges[idx].max_rowid, bounds[idx][1]);
  }
  return plan;
}

std::string Text(const SplitPlan& plan) {
  char text[8192];
  EXPECT_TRUE(FormatSplitPlan(plan, text, sizeof text));
  return text;
}

TEST(SplitPlan, ReadsBackWhatItWroteAlsoWithCarriageReturns) {
  const SplitPlan written = ThreePieces();
  std::string text = Text(written);
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& form : {text, crlf}) {
    SplitPlan read;
    char error[128] = "";
    ASSERT_TRUE(ParseSplitPlan(form.data(), form.size(), &read, error, sizeof error)) << error;
    EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
  }
}

TEST(SplitPlan, RefusesAnythingButAWholePlan) {
  const std::string good = Text(ThreePieces());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string cases[] = {
      "",
      good.substr(0, good.rfind("END")),                        // cut before its end
      good.substr(0, good.find("PIECE=3")),                     // a piece lost
      replaced("VERSION=2", "VERSION=3"),                       // a later format
      replaced("VERSION=2", "VERSION=1"),                       // an earlier one, without segments
      replaced("SEGMENTS=3 ", "SEGMENTS=x "),                   // no segment count
      replaced(" 9c2e0b1e5d3f0a77", " 9c2e0b1e5d3f0a7"),        // a digest cut
      replaced("PIECES=3", "PIECES=4"),                         // fewer pieces than said
      replaced("PIECE=3 ", "PIECE=2 "),                         // a piece twice
      replaced("PIECE=4 ", "PIECE=0 "),                         // no such piece number
      replaced("AAAR3sAAEAAAADzAAA", "AAAR3sAAEAAAADzAA"),      // a ROWID cut
      replaced("AAAR3sAAEAAAADzAAA", "AAAR3sAAEAAAADz-AA"),     // not a ROWID character
      replaced("SCN=8123456789", "SCN=81234x"),                 // not a number
      replaced("TABLE=Mixed Case", "TABLE="),                   // no table
      replaced("OWNER=SCOTT", "OWNER=SC\"OTT"),                 // a quote in a name
      replaced("DEGREE=4\n", ""),                               // a line missing
      good + "PIECE=5 AAAR3sAAEAAAADzAAA AAAR3sAAEAAAADzAAB\n"  // text after its end
  };
  for (const std::string& text : cases) {
    SplitPlan read;
    char error[128] = "";
    EXPECT_FALSE(ParseSplitPlan(text.data(), text.size(), &read, error, sizeof error)) << text;
    EXPECT_NE(error[0], '\0');
  }
}

TEST(SplitPlan, PieceListsSelectExactlyTheirPieces) {
  struct Case {
    const char* list;
    std::string selected;  // the selected numbers, each followed by a space; "!" when refused
  };
  const Case cases[] = {
      {"3", "3 "},     {"1,4-6", "1 4 5 6 "}, {" 2 - 3 , 7 ", "2 3 7 "},
      {"128", "128 "}, {"5-5,5", "5 "},       {"", "!"},
      {"0", "!"},      {"129", "!"},          {"4-2", "!"},
      {"1,", "!"},     {"1;2", "!"},          {"-3", "!"},
      {"1-", "!"},     {"0001", "!"},         {"x", "!"},
  };
  for (const Case& c : cases) {
    bool selected[kMaxRowidRanges + 1];
    std::string got = "!";
    if (ParsePieceList(c.list, selected)) {
      got.clear();
      for (int piece = 0; piece <= kMaxRowidRanges; ++piece) {
        if (selected[piece]) got += std::to_string(piece) + " ";
      }
    }
    EXPECT_EQ(got, c.selected) << '"' << c.list << '"';
  }
}

}  // namespace
}  // namespace rowflume
