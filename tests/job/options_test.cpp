#include "job/options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/job.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string Bytes(const char* text, int length) {
  return std::string(text, static_cast<size_t>(length));
}

TEST(OptionSplit, KeywordAndValueBoundaries) {
  const char* item = "  FIELD \t=  0x09  ";
  KeywordValue split = SplitKeywordValue(item);
  EXPECT_EQ(std::string(item + split.keyword_start, split.keyword_length), "FIELD");
  EXPECT_EQ(std::string(item + split.value_start, split.value_length), "0x09  ");

  split = SplitKeywordValue(" user ");
  EXPECT_EQ(split.keyword_start, 1);
  EXPECT_EQ(split.keyword_length, 4);
  EXPECT_EQ(split.value_length, 0);

  // Only the first "=" ends the keyword.
  item = "COLSEP==";
  split = SplitKeywordValue(item);
  EXPECT_EQ(std::string(item + split.keyword_start, split.keyword_length), "COLSEP");
  EXPECT_EQ(std::string(item + split.value_start, split.value_length), "=");

  auto job = NewJob();
  ASSERT_EQ(SetOption(job.get(), "FIELD = 0x09"), 1);
  EXPECT_EQ(Bytes(job->field, job->field_length), "\t");
  ASSERT_EQ(SetOption(job.get(), "field=0x09  "), 1);
  EXPECT_EQ(Bytes(job->field, job->field_length), "\t  ");
}

// A decoded text given as the white space itself keeps it; other values lose the white space
// after "=", and copied texts always do.
TEST(OptionSplit, WhiteSpaceOnlyDecodedValueIsTakenLiterally) {
  const std::pair<const char*, std::string> cases[] = {
      {"field=\t", "\t"}, {"FIELD = \r\n", " \r\n"}, {"field= \t|", "|"}, {"field=", ""}};
  for (const auto& [item, field] : cases) {
    auto job = NewJob();
    SetOption(job.get(), item);
    EXPECT_EQ(Bytes(job->field, job->field_length), field) << item;
  }
  auto job = NewJob();
  SetOption(job.get(), "file= \t");
  EXPECT_STREQ(job->file, "");
}

struct DecodeCase {
  const char* source;
  int limit;
  std::string expected;  // every output position; skipped ones show the prefill byte '#'
};

TEST(OptionDecode, CodesSkippedPositionsAndBound) {
  const DecodeCase cases[] = {
      {"|", 131, "|"},
      {"10", 131, "1#"},   // a final "0" skips its position
      {"100", 131, "10"},  // "00" is a single "0"
      {"0", 131, "#"},
      {"00", 131, "0"},
      {"0c1", 131, "c1"},  // "0" before another character drops the "0"
      {"0x0d0x0a", 131, "\r\n"},
      {"0xZZ", 131, std::string(1, '\0')},  // non-hex digits count as 0
      {"0xA", 131, "A"},                    // one character after "0x" stands for itself
      {"a0x", 131, "a#"},                   // "0x" at the end skips a position
      {"0X4a0x4B", 131, "JK"},              // either case of x and of hex digits
      {"rn0x220x27", 131, "rn\"'"},
      {"0x5cN", 131, "\\N"},
      {"<DOC>0x010x0a", 131, "<DOC>\x01\n"},
      {"abcdef", 3, "abc"},
      {"ab0x41zz", 3, "abA"},  // a code starting before the bound is decoded whole
      {"ab0", 3, "ab#"},
      {"", 131, ""},
  };
  for (const DecodeCase& test : cases) {
    char out[140];
    std::memset(out, '#', sizeof(out));
    int count = DecodeOptionText(test.source, out, test.limit);
    EXPECT_EQ(std::string(out, static_cast<size_t>(count)), test.expected) << test.source;
    EXPECT_EQ(out[count], '\0') << test.source;
  }
  EXPECT_EQ(HexDigitValue('f'), 15);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('g'), 0);
}

TEST(OptionText, FieldsClearedAndCutToLimits) {
  auto job = NewJob();
  SetOption(job.get(), "field=abcdef");
  SetOption(job.get(), "field=10");
  EXPECT_EQ(job->field_length, 2);
  EXPECT_EQ(job->field[0], '1');
  for (size_t pos = 1; pos < sizeof(job->field); ++pos) ASSERT_EQ(job->field[pos], '\0') << pos;
  SetOption(job.get(), "null=0");
  EXPECT_EQ(Bytes(job->null, job->null_length), std::string(1, '\0'));
  SetOption(job.get(), "null=00");
  EXPECT_EQ(Bytes(job->null, job->null_length), "0");
  SetOption(job.get(), "record=0xZZ");
  EXPECT_EQ(Bytes(job->record, job->record_length), std::string(1, '\0'));

  SetOption(job.get(), "table=a_long_table_name");
  SetOption(job.get(), "table=t");
  EXPECT_EQ(std::memcmp(job->table, "t\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 18), 0);

  // A value is stored only up to its option's limit; the neighbours stay intact.
  std::string user = "user=" + std::string(200, 'u');
  SetOption(job.get(), user.c_str());
  EXPECT_EQ(std::strlen(job->user), 128u);
  std::string query = "query=" + std::string(9000, 'q');
  SetOption(job.get(), query.c_str());
  EXPECT_EQ(std::strlen(job->query), 8191u);
  std::string field = "field=" + std::string(200, 'f');
  SetOption(job.get(), field.c_str());
  EXPECT_EQ(job->field_length, 131);
  EXPECT_EQ(std::strlen(job->field), 131u);
  std::string exec = "exec=" + std::string(100, 'e');
  SetOption(job.get(), exec.c_str());
  EXPECT_EQ(job->exec_length, 60);
  std::string crack = "crack=" + std::string(100, 'k');
  SetOption(job.get(), crack.c_str());
  EXPECT_EQ(std::strlen(job->crack), 31u);
  EXPECT_EQ(job->uncrack[0], '\0');
  std::string quote = "quote=" + std::string(100, '"');
  SetOption(job.get(), quote.c_str());
  EXPECT_EQ(std::strlen(job->quote), 40u);

  // Copied kinds keep "0x" as it is written.
  SetOption(job.get(), "file=out0x41.txt");
  EXPECT_STREQ(job->file, "out0x41.txt");
  SetOption(job.get(), "charset=ZHS16GBK");
  SetOption(job.get(), "ncharset=AL16UTF16");
  EXPECT_STREQ(job->charset, "ZHS16GBK");
  EXPECT_STREQ(job->ncharset, "AL16UTF16");
}

TEST(OptionText, EscapeTakesFirstDecodedByte) {
  auto job = NewJob();
  SetOption(job.get(), "escape=0x5c");
  EXPECT_EQ(job->escape, '\\');
  SetOption(job.get(), "escape=0");
  EXPECT_EQ(job->escape, ' ');
  SetOption(job.get(), "escape=\\");
  EXPECT_EQ(job->escape, '\\');
  SetOption(job.get(), "escape=");
  EXPECT_EQ(job->escape, '\0');
  SetOption(job.get(), "escape=\"abc");
  EXPECT_EQ(job->escape, '"');
}

TEST(OptionNumber, ClampsUnitsAndSignedness) {
  struct NumberCase {
    const char* item;
    int64_t expected;
  };
  auto job = NewJob();
  auto read = [&](const char* item) -> int64_t {
    EXPECT_EQ(SetOption(job.get(), item), 1) << item;
    std::string keyword(item, std::strcspn(item, "="));
    if (keyword == "rows") return job->rows;
    if (keyword == "array") return job->array;
    if (keyword == "long") return job->long_limit;
    if (keyword == "buffer") return job->buffer;
    if (keyword == "hash") return job->hash;
    if (keyword == "sort") return job->sort;
    if (keyword == "read") return job->read;
    if (keyword == "degree") return job->degree;
    if (keyword == "lobdir") return job->lobdir;
    if (keyword == "size") return job->size;
    if (keyword == "trace") return job->trace;
    if (keyword == "retry") return job->retry;
    if (keyword == "sleep") return job->sleep;
    ADD_FAILURE() << "no reader for " << item;
    return 0;
  };
  const NumberCase cases[] = {
      {"rows=10", 1000},
      {"rows=2500", 2500},
      {"rows=-1", 4294967295LL},  // negative reads as a large unsigned count
      {"rows=abc", 1000},
      {"rows=99999999999", 2147483647},  // saturates instead of overflowing
      {"array=1", 5},
      {"array=5000", 2000},
      {"array=-1", 2000},
      {"long=64", 65536},
      {"long=1023", 1047552},
      {"long=1024", 1024},
      {"long=5000000", 2097152},
      {"long=0", 0},
      {"long=-1", 2097152},
      {"buffer=16", 16777216},
      {"buffer=1", 8388608},
      {"buffer=1000", 104857600},
      {"hash=-5", 0},
      {"sort=600", 512},
      {"read=128", 128},
      {"degree=0", 1},
      {"degree=300", 128},
      {"lobdir=2", 8},
      {"lobdir=5000", 1024},
      {"size=-1", 268435455},
      {"size=0", 0},
      {"size=12x", 12},
      {"trace=-7", -7},
      {"trace= +12", 12},
      {"retry=500", 128},
      {"retry=-1", 128},
      {"retry=65537", 1},  // low 16 bits
      {"sleep=500", 180},
      {"sleep=-5", 180},
      {"sleep=7", 7},
  };
  for (const NumberCase& test : cases) EXPECT_EQ(read(test.item), test.expected) << test.item;
}

TEST(OptionNumber, ErrorListKeepsDistinctNumbersWithinCapacity) {
  auto job = NewJob();
  SetOption(job.get(), "error=1403");
  SetOption(job.get(), "error=1403");
  EXPECT_EQ(job->error_count, 1);
  for (int code = 1; code <= 40; ++code) {
    std::string item = "error=" + std::to_string(20000 + code);
    EXPECT_EQ(SetOption(job.get(), item.c_str()), 1);
  }
  EXPECT_EQ(job->error_count, kMaxErrorCodes);
  EXPECT_EQ(job->error_codes[0], 1403);
  EXPECT_EQ(job->error_codes[kMaxErrorCodes - 1], 20031);
  // The fields after the list are untouched.
  EXPECT_EQ(job->callback_context, nullptr);
  EXPECT_EQ(job->callback, nullptr);
}

TEST(OptionYesNo, PrefixWordsAndFallbacks) {
  auto job = NewJob();
  for (const char* item : {"head=yes", "head=On", "head=YESNO"}) {
    job->head = 0;
    SetOption(job.get(), item);
    EXPECT_EQ(job->head, 1) << item;
  }
  for (const char* item : {"head=Y", "head=1", "head=", "head=o"}) {
    job->head = 1;
    SetOption(job.get(), item);
    EXPECT_EQ(job->head, 0) << item;
  }
  SetOption(job.get(), "data=no");
  EXPECT_EQ(job->data, 0);
  SetOption(job.get(), "data=maybe");
  EXPECT_EQ(job->data, 1);
  SetOption(job.get(), "data=Off");
  EXPECT_EQ(job->data, 0);
  SetOption(job.get(), "help=on");
  EXPECT_EQ(job->help, 0);
  SetOption(job.get(), "help=Yes");
  EXPECT_EQ(job->help, 1);
  SetOption(job.get(), "client=yes");
  EXPECT_EQ(job->client, 1);
  SetOption(job.get(), "lob=file");
  EXPECT_EQ(job->lob, 1);
  SetOption(job.get(), "lob=yes");
  EXPECT_EQ(job->lob, 0);
  SetOption(job.get(), "format=sql");
  EXPECT_EQ(job->format, 2);
  SetOption(job.get(), "format=mysql");
  EXPECT_EQ(job->format, 1);
  SetOption(job.get(), "format=square");
  EXPECT_EQ(job->format, 2);
  SetOption(job.get(), "format=xyz");
  EXPECT_EQ(job->format, 0);

  SetOption(job.get(), "unique=ID");
  EXPECT_EQ(job->update, 1);
  EXPECT_STREQ(job->unique, "ID");
  SetOption(job.get(), "update=NO");
  EXPECT_EQ(job->update, 0);
  SetOption(job.get(), "unique=");
  EXPECT_EQ(job->update, 0);
}

TEST(OptionKeyword, UnknownKeywordsChangeNothing) {
  auto job = NewJob();
  auto before = NewJob();
  for (const char* item :
       {"USERS=x", "use=x", "parfile=p.txt", "-si", ":id=1", "=x", "", "user x=1", "#user=x"}) {
    EXPECT_EQ(SetOption(job.get(), item), 0) << item;
  }
  EXPECT_EQ(std::memcmp(job.get(), before.get(), sizeof(UnloadHandle)), 0);

  SetOption(job.get(), "User=scott");
  EXPECT_STREQ(job->user, "scott");
  EXPECT_EQ(SetOption(job.get(), "user"), 1);
  EXPECT_STREQ(job->user, "");
  EXPECT_EQ(SetOption(job.get(), "QuErY=select 1"), 1);
  EXPECT_STREQ(job->query, "select 1");
}

TEST(OptionPreset, TextLayouts) {
  auto job = NewJob();
  SetOption(job.get(), "text=csv");
  SetOption(job.get(), "field=;");
  EXPECT_EQ(Bytes(job->field, job->field_length), ";");
  EXPECT_EQ(job->head, 1);
  EXPECT_EQ(job->escape, '"');
  EXPECT_STREQ(job->quote, "\"");

  job = NewJob();
  SetOption(job.get(), "field=;");
  SetOption(job.get(), "text=CSV");
  EXPECT_EQ(Bytes(job->field, job->field_length), ",");

  // Only an exact layout name counts; the keyword is known all the same.
  auto before = NewJob();
  job = NewJob();
  EXPECT_EQ(SetOption(job.get(), "text=csv2"), 1);
  EXPECT_EQ(SetOption(job.get(), "text=csv "), 1);
  EXPECT_EQ(SetOption(job.get(), "text=cs"), 1);
  EXPECT_EQ(std::memcmp(job.get(), before.get(), sizeof(UnloadHandle)), 0);

  job = NewJob();
  SetOption(job.get(), "text=oracleins");
  EXPECT_EQ(job->escape, '\'');
  EXPECT_EQ(job->format, 2);
  EXPECT_STREQ(job->file, "-");
  EXPECT_EQ(Bytes(job->null, job->null_length), "null");

  job = NewJob();
  SetOption(job.get(), "text=MySql");
  EXPECT_EQ(job->escape, '\\');
  EXPECT_STREQ(job->escf, "\r\n\"'");
  EXPECT_STREQ(job->esct, "rn\"'");
  EXPECT_EQ(Bytes(job->null, job->null_length), "\\N");
  EXPECT_EQ(job->format, 0);

  job = NewJob();
  SetOption(job.get(), "text=mysqlins");
  EXPECT_EQ(job->format, 1);
  EXPECT_STREQ(job->quote, "'");
  EXPECT_STREQ(job->file, "-");

  job = NewJob();
  SetOption(job.get(), "text=search");
  EXPECT_EQ(Bytes(job->colsep, job->colsep_length), "=");
  EXPECT_EQ(Bytes(job->field, job->field_length), "\x01\n");
  EXPECT_EQ(Bytes(job->rowpre, job->rowpre_length), "<DOC>\x01\n");
  EXPECT_EQ(Bytes(job->rowsuf, job->rowsuf_length), "\x01\n</DOC>");

  job = NewJob();
  SetOption(job.get(), "text=form");
  EXPECT_EQ(Bytes(job->colsep, job->colsep_length), " : ");
  EXPECT_EQ(Bytes(job->record, job->record_length), "\n\n");
  EXPECT_EQ(Bytes(job->null, job->null_length), "(null)");
}

// A preset sets back what an earlier preset set, and keeps what the user set: every sequence
// gives the record of its equivalent.
TEST(OptionPreset, LaterPresetReplacesTheEarlierLayout) {
  struct Case {
    std::vector<const char*> items;
    std::vector<const char*> same_as;
  };
  const Case cases[] = {
      {{"text=ORACLEINS", "text=CSV"}, {"text=CSV"}},
      {{"text=CSV", "text=MYSQL"}, {"text=MYSQL"}},
      {{"text=SEARCH", "form=yes"}, {"form=yes"}},
      {{"head=yes", "null=N", "text=MYSQLINS"}, {"text=MYSQLINS", "head=yes"}},
      {{"text=ORACLEINS", "file=x.sql", "text=CSV"}, {"text=CSV", "file=x.sql"}},
      {{"text=ORACLEINS", "text=nosuch"}, {"text=ORACLEINS"}},  // no preset: nothing reset
      {{"text=MYSQLINS", "fast=yes", "text=CSV"}, {"fast=yes", "text=CSV"}},  // no layout
  };
  for (const Case& c : cases) {
    auto job = NewJob();
    auto expected = NewJob();
    for (const char* item : c.items) SetOption(job.get(), item);
    for (const char* item : c.same_as) SetOption(expected.get(), item);
    EXPECT_EQ(std::memcmp(job.get(), expected.get(), sizeof(UnloadHandle)), 0) << c.items.back();
  }
}

TEST(OptionPreset, FormAndFast) {
  auto before = NewJob();
  auto job = NewJob();
  SetOption(job.get(), "fast=no");
  SetOption(job.get(), "form=y");
  EXPECT_EQ(std::memcmp(job.get(), before.get(), sizeof(UnloadHandle)), 0);

  SetOption(job.get(), "null=N");
  SetOption(job.get(), "form=yes");
  EXPECT_EQ(Bytes(job->colsep, job->colsep_length), " : ");
  EXPECT_EQ(Bytes(job->field, job->field_length), "\n");
  EXPECT_EQ(Bytes(job->record, job->record_length), "\n\n");
  EXPECT_STREQ(job->file, "-");
  EXPECT_EQ(Bytes(job->null, job->null_length), "N");  // the form preset leaves null alone

  SetOption(job.get(), "array=50");
  SetOption(job.get(), "fast=YES please");
  EXPECT_EQ(job->read, 128);
  EXPECT_EQ(job->hash, 128);
  EXPECT_EQ(job->sort, 128);
  EXPECT_EQ(job->array, 2000u);
  EXPECT_EQ(job->serial, 1);
}

}  // namespace
}  // namespace rowflume
