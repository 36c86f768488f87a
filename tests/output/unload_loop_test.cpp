#include "output/unload_loop.h"
#include "scramble/scramble.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "job/command_line.h"
#include "job/options.h"
#include "output/output_buffer.h"
#include "run/job_run.h"
#include "support/columns.h"
#include "support/environment.h"
#include "support/fake_oci.h"
#include "support/files.h"
#include "support/job.h"
#include "support/messages.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

// An in-memory result set behind the fake client: fetches fill the define buffers of
// the column list, keep a cumulative row count and can fail on chosen calls.
struct FakeCursor {
  ColumnDesc* head = nullptr;
  int total_rows = 0;
  int next_row = 0;
  ub4 row_count = 0;
  int fetch_calls = 0;
  int fail_from = 0;  // first failing fetch call, 1-based; 0 never
  int fail_times = 1;
  sword fail_status = OCI_ERROR;
  int fail_code = 0;
  int fail_rows = 0;  // rows a failing fetch still delivers
  std::function<void(ColumnDesc*, int column, int row_number, int slot)> fill;
  ub4 last_fetched = 0;  // rows of the last fetch
};

FakeCursor* g_cursor = nullptr;

void Deliver(int count) {
  for (int slot = 0; slot < count; ++slot) {
    int column = 0;
    for (ColumnDesc* c = g_cursor->head->next; c != nullptr; c = c->next) {
      g_cursor->fill(c, column++, g_cursor->next_row + 1, slot);
    }
    ++g_cursor->next_row;
  }
  g_cursor->row_count += static_cast<ub4>(count);
  g_cursor->last_fetched = static_cast<ub4>(count);
}

sword FakeFetch(OCIStmt*, OCIError*, ub4 nrows, ub2, ub4) {
  FakeCursor& cur = *g_cursor;
  ++cur.fetch_calls;
  int left = cur.total_rows - cur.next_row;
  if (cur.fail_from > 0 && cur.fetch_calls >= cur.fail_from &&
      cur.fetch_calls < cur.fail_from + cur.fail_times) {
    Deliver(cur.fail_rows < left ? cur.fail_rows : left);
    return cur.fail_status;
  }
  int count = static_cast<int>(nrows) < left ? static_cast<int>(nrows) : left;
  Deliver(count);
  return count < static_cast<int>(nrows) ? OCI_NO_DATA : OCI_SUCCESS;
}

sword FakeAttrGet(const void*, ub4 type, void* value, ub4* size, ub4 attribute, OCIError*) {
  if (type != OCI_HTYPE_STMT) return OCI_ERROR;
  if (attribute == OCI_ATTR_ROW_COUNT) {
    std::memcpy(value, &g_cursor->row_count, sizeof(ub4));
  } else if (attribute == OCI_ATTR_ROWS_FETCHED) {
    std::memcpy(value, &g_cursor->last_fetched, sizeof(ub4));
  } else {
    return OCI_ERROR;
  }
  if (size != nullptr) *size = sizeof(ub4);
  return OCI_SUCCESS;
}

sword FakeErrorGet(void*, ub4, OraText*, sb4* code, OraText* text, ub4 size, ub4) {
  *code = g_cursor->fail_code;
  std::snprintf(reinterpret_cast<char*>(text), size, "ORA-%05d: injected fault\n",
                g_cursor->fail_code);
  return OCI_SUCCESS;
}

// The fake client answering from the cursor.
const OciApi* CursorApi() {
  FakeOci& fake = FakeOci::Fresh();
  fake.script.StmtFetch = FakeFetch;
  fake.script.AttrGet = FakeAttrGet;
  fake.script.ErrorGet = FakeErrorGet;
  return fake.api();
}

// Rows of the standard table: ID, NAME (a quote in every fifth), NOTE (NULL in every seventh).
void FillStandard(ColumnDesc* c, int column, int row, int slot) {
  if (column == 0) {
    SetValue(c, slot, std::to_string(row));
  } else if (column == 1) {
    SetValue(c, slot, "name" + std::to_string(row) + (row % 5 == 0 ? "\"q" : ""));
  } else if (row % 7 == 0) {
    SetNull(c, slot);
  } else {
    SetValue(c, slot, "n," + std::to_string(row));
  }
}

// The CSV text of rows first..last of the standard table, built independently of the encoder.
std::string CsvRows(int first, int last, bool header = true) {
  std::string text = header ? "ID,NAME,NOTE\n" : "";
  for (int row = first; row <= last; ++row) {
    text += std::to_string(row) + ",\"name" + std::to_string(row) + (row % 5 == 0 ? "\"\"q" : "") +
            "\",";
    if (row % 7 != 0) text += "\"n," + std::to_string(row) + "\"";
    text += "\n";
  }
  return text;
}

class UnloadLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    job_ = NewJob();
    CsvOptions(job_.get());
    SetFile("emp.csv");
    columns_.Number("ID");
    columns_.Text("NAME");
    columns_.Text("NOTE");
    cursor_.head = columns_.head();
    cursor_.fill = FillStandard;
    g_cursor = &cursor_;
    session_.oci = CursorApi();
    session_.error = reinterpret_cast<OCIError*>(&error_handle_);
    session_.callback = CaptureMessage;
    session_.callback_context = &messages_;
  }
  void TearDown() override { g_cursor = nullptr; }

  void SetFile(const std::string& name) {
    std::string path = name == "-" || name[0] == '-' || name[0] == '/' ? name : dir_ + "/" + name;
    std::snprintf(job_->file, sizeof job_->file, "%s", path.c_str());
  }
  std::string Path(const std::string& name) { return dir_ + "/" + name; }

  int Run(int total_rows, int buffer_bytes = kOutputBufferBytes) {
    cursor_.total_rows = total_rows;
    UnloadRowsWithBuffer(job_.get(), &session_, nullptr, columns_.head(), buffer_bytes);
    return session_.status;
  }

  // The row counts named by the close messages, in order.
  std::vector<int> ClosedRows() {
    std::vector<int> counts;
    for (const std::string& m : messages_) {
      size_t at = m.find(" closed at ");
      if (at != std::string::npos) counts.push_back(std::stoi(m.substr(at + 11)));
    }
    return counts;
  }
  std::vector<int> ProgressRows() {
    std::vector<int> counts;
    for (const std::string& m : messages_) {
      if (m.find(" rows exported at ") != std::string::npos) counts.push_back(std::stoi(m));
    }
    return counts;
  }

  std::string dir_;
  std::unique_ptr<UnloadHandle> job_;
  Columns columns_{2000};
  FakeCursor cursor_;
  int error_handle_ = 0;
  DbSession session_{};
  std::vector<std::string> messages_;
};

TEST_F(UnloadLoop, EmptyResultWritesTheHeaderOnly) {
  EXPECT_EQ(Run(0), 0);
  EXPECT_EQ(ReadFile(Path("emp.csv")), "ID,NAME,NOTE\n");
  EXPECT_EQ(cursor_.fetch_calls, 1);
  EXPECT_EQ(ProgressRows(), std::vector<int>({0}));
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1],
            "         output file " + Path("emp.csv") + " closed at 0 rows, size 0 MB.\n");
}

// Text keeps double-byte characters whole only when `charset`, or else NLS_LANG, names a
// double-byte set; otherwise a backslash after a UTF-8 character is doubled. RAW bytes are never
// characters: their backslash is always doubled.
TEST_F(UnloadLoop, CharsetOrNlsLangDecidesDoubleBytePairs) {
  const char* saved = std::getenv("NLS_LANG");
  const std::string saved_value = saved != nullptr ? saved : "";
  job_->escape = '\\';
  job_->head = 0;
  columns_.at(2)->described_type = columns_.at(2)->define_type = SQLT_BIN;
  cursor_.fill = [](ColumnDesc* c, int, int, int slot) { SetValue(c, slot, "\xE4\xB8\xAD\\"); };
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"", "", false},
      {"ZHS16GBK", "", true},
      {"", "AMERICAN_AMERICA.ZHS16GBK", true},
      {"AL32UTF8", ".JA16SJIS", false}};
  for (auto [charset, nls_lang, kept] : cases) {
    SetText(job_->charset, nullptr, charset);
    SetEnvironment("NLS_LANG", nls_lang);
    cursor_.next_row = 0;
    cursor_.row_count = 0;
    EXPECT_EQ(Run(1), 0);
    EXPECT_EQ(ReadFile(Path("emp.csv")), std::string("\xE4\xB8\xAD\\,\"\xE4\xB8\xAD\\") +
                                             (kept ? "\"" : "\\\"") + ",\"\xE4\xB8\xAD\\\\\"\n")
        << charset << " / " << nls_lang;
  }
  if (saved != nullptr) {
    SetEnvironment("NLS_LANG", saved_value.c_str());
  } else {
    UnsetEnvironment("NLS_LANG");
  }
}

// Header names that a CSV or MySQL reader would split or end early are quoted as text values.
TEST_F(UnloadLoop, HeaderQuotesTheNamesThatNeedIt) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"quote=0x22", "FIRST NAME", "FIRST NAME"},
      {"quote=0x22", "a,b", "\"a,b\""},
      {"quote=0x22", "x\"y", "\"x\"\"y\""},
      {"quote=0x22", "a\nb", "\"a\nb\""},
      {"field=|", "a,b", "a,b"},
      {"record=;", "a;b", "\"a;b\""},
      {"quote=", "a,b", "a,b"},
      {"text=MYSQL", "O'N\\", "\"O\\'N\\\\\""}};
  for (auto [option, name, expected] : cases) {
    ASSERT_EQ(SetOption(job_.get(), option), 1);
    SetText(columns_.at(1)->name, nullptr, name);
    columns_.at(1)->name_length = static_cast<uint32_t>(std::strlen(name));
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(ReadFile(Path("emp.csv")),
              std::string("ID") + job_->field + expected + job_->field + "NOTE" + job_->record)
        << name;
  }
}

TEST_F(UnloadLoop, ExactMultipleOfTheArray) {
  job_->array = 5;
  EXPECT_EQ(Run(10), 0);
  EXPECT_EQ(ReadFile(Path("emp.csv")), CsvRows(1, 10));
  EXPECT_EQ(cursor_.fetch_calls, 3);
  EXPECT_EQ(ProgressRows(), std::vector<int>({0, 10}));
  EXPECT_EQ(ClosedRows(), std::vector<int>({10}));
}

TEST_F(UnloadLoop, BatchSplitsIntoNumberedFilesWithHeaders) {
  job_->batch = 1;
  job_->rows = 1000;
  EXPECT_EQ(Run(2500), 0);
  EXPECT_EQ(ReadFile(Path("emp.csv")), CsvRows(1, 1000));
  EXPECT_EQ(ReadFile(Path("emp_2.csv")), CsvRows(1001, 2000));
  EXPECT_EQ(ReadFile(Path("emp_3.csv")), CsvRows(2001, 2500));
  EXPECT_FALSE(FileExists(Path("emp_4.csv")));
  EXPECT_EQ(ProgressRows(), std::vector<int>({0, 1000, 1000, 500}));
  EXPECT_EQ(ClosedRows(), std::vector<int>({1000, 1000, 500}));
}

TEST_F(UnloadLoop, SequenceFieldNamesFilesAndProgressWithoutBatch) {
  job_->rows = 1000;
  SetFile("part_%b.csv");
  job_->batch = 1;
  EXPECT_EQ(Run(2000), 0);
  EXPECT_EQ(ReadFile(Path("part_1.csv")), CsvRows(1, 1000));
  EXPECT_EQ(ReadFile(Path("part_2.csv")), CsvRows(1001, 2000));
  // An exact multiple ends with the last full file: no file of a header alone follows it.
  EXPECT_FALSE(FileExists(Path("part_3.csv")));
  EXPECT_EQ(ClosedRows(), std::vector<int>({1000, 1000}));

  messages_.clear();
  job_->batch = 0;
  cursor_ = FakeCursor{columns_.head(), 0, 0, 0, 0, 0, 1, OCI_ERROR, 0, 0, FillStandard};
  EXPECT_EQ(Run(2500), 0);
  EXPECT_EQ(ReadFile(Path("part_1.csv")), CsvRows(1, 2500));
  EXPECT_EQ(ProgressRows(), std::vector<int>({0, 1000, 2000, 2500}));
}

// Every buffer size gives the same bytes, whatever the layout.
TEST_F(UnloadLoop, TinyBufferGivesTheSameBytes) {
  struct Layout {
    const char* field;
    const char* record;
    const char* colsep;
    const char* rowpre;
    const char* rowsuf;
    char escape;
    const char* quote;
  };
  const Layout layouts[] = {
      {",", "\n", "", "", "", '"', "\""},
      {"|", "\r\n", "", "<", ">", '\\', "'"},
      {" ", "\n", "", "", "", '"', "\""},                                 // fixed
      {"\n", "\n\n", " : ", "", "", ' ', ""},                             // FORM
      {"\x01\n", "\x01\n", "=", "<DOC>\x01\n", "\x01\n</DOC>", ' ', ""},  // SEARCH
  };
  for (const Layout& layout : layouts) {
    SetText(job_->field, &job_->field_length, layout.field);
    SetText(job_->record, &job_->record_length, layout.record);
    SetText(job_->colsep, &job_->colsep_length, layout.colsep);
    SetText(job_->rowpre, &job_->rowpre_length, layout.rowpre);
    SetText(job_->rowsuf, &job_->rowsuf_length, layout.rowsuf);
    SetText(job_->quote, nullptr, layout.quote);
    job_->escape = layout.escape;
    job_->array = 7;
    std::string outputs[2];
    int sizes[2] = {kOutputBufferBytes, 64};
    for (int k = 0; k < 2; ++k) {
      cursor_ = FakeCursor{columns_.head(), 0, 0, 0, 0, 0, 1, OCI_ERROR, 0, 0, FillStandard};
      SetFile("layout_" + std::to_string(k) + ".txt");
      ASSERT_EQ(Run(100, sizes[k]), 0);
      outputs[k] = ReadFile(Path("layout_" + std::to_string(k) + ".txt"));
    }
    EXPECT_EQ(outputs[0], outputs[1]) << "field " << layout.field;
    EXPECT_GT(outputs[0].size(), 1000u);
  }
}

TEST(UnloadLoopWide, ThousandColumnsWithLongNamesAndColsep) {
  std::string dir = MakeTempDir();
  std::unique_ptr<UnloadHandle> job = NewJob();
  std::string colsep(63, '-');
  colsep[0] = ' ';
  SetText(job->colsep, &job->colsep_length, colsep);
  SetText(job->field, &job->field_length, "\n");
  job->head = 1;
  job->array = 5;
  Columns columns(5);
  for (int k = 0; k < kMaxColumns; ++k) {
    char name[31];
    std::snprintf(name, sizeof name, "COLUMN_WITH_A_LONG_NAME_%06d", k);
    columns.Text(name, 10);
  }
  FakeCursor cursor;
  cursor.head = columns.head();
  cursor.fill = [](ColumnDesc* c, int column, int row, int slot) {
    SetValue(c, slot, std::to_string(row * 10000 + column));
  };
  g_cursor = &cursor;
  const OciApi* api = CursorApi();
  int error_handle = 0;
  std::string outputs[2];
  int sizes[2] = {kOutputBufferBytes, 64};
  for (int k = 0; k < 2; ++k) {
    cursor.next_row = 0;
    cursor.row_count = 0;
    cursor.total_rows = 12;
    std::string path = dir + "/wide_" + std::to_string(k) + ".txt";
    std::snprintf(job->file, sizeof job->file, "%s", path.c_str());
    DbSession session{};
    session.oci = api;
    session.error = reinterpret_cast<OCIError*>(&error_handle);
    UnloadRowsWithBuffer(job.get(), &session, nullptr, columns.head(), sizes[k]);
    ASSERT_EQ(session.status, 0);
    outputs[k] = ReadFile(path);
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  // Header line plus 12 rows of 1023 fields, each name padded to 30 characters and the colsep.
  EXPECT_NE(outputs[0].find("COLUMN_WITH_A_LONG_NAME_000000" + colsep + "10000\n"),
            std::string::npos);
  EXPECT_GT(outputs[0].size(), size_t{12} * 1023 * (30 + 63));
  g_cursor = nullptr;
}

TEST_F(UnloadLoop, SizeSwitchesNeverLoseOrOverwriteRows) {
  job_->head = 0;
  job_->size = 0;  // every row after the first write ends its own file
  job_->array = 10;
  EXPECT_EQ(Run(30, 256), 0);
  std::vector<int> closed = ClosedRows();
  ASSERT_GT(closed.size(), 5u);
  std::string joined = ReadFile(Path("emp.csv"));
  for (size_t k = 2; k <= closed.size(); ++k) {
    joined += ReadFile(Path("emp_" + std::to_string(k) + ".csv"));
  }
  EXPECT_EQ(joined, CsvRows(1, 30, false));
  int total = 0;
  for (size_t k = 0; k < closed.size(); ++k) {
    total += closed[k];
    if (k > 0 && k + 1 < closed.size()) {
      EXPECT_EQ(closed[k], 1);
    }
  }
  EXPECT_EQ(total, 30);
}

TEST_F(UnloadLoop, CrackScramblesEachFileAsOneStream) {
  job_->batch = 1;
  job_->rows = 1000;
  SetText(job_->crack, nullptr, "k3y!Key8");
  EXPECT_EQ(Run(2500, 100), 0);
  const char* names[] = {"emp.csv", "emp_2.csv", "emp_3.csv"};
  std::string plain[] = {CsvRows(1, 1000), CsvRows(1001, 2000), CsvRows(2001, 2500)};
  for (int k = 0; k < 3; ++k) {
    std::string scrambled = ReadFile(Path(names[k]));
    ASSERT_EQ(scrambled.size(), plain[k].size());
    EXPECT_NE(scrambled, plain[k]);
    // The tail of 1 to 8 bytes stays plain; the rest unscrambles as one stream from the start.
    int done = ContentScramble(scrambled.data(), static_cast<int>(scrambled.size()), "k3y!Key8");
    EXPECT_GE(static_cast<int>(scrambled.size()) - done, 1);
    EXPECT_LE(static_cast<int>(scrambled.size()) - done, 8);
    EXPECT_EQ(scrambled, plain[k]) << names[k];
  }
}

TEST_F(UnloadLoop, ToleratedErrorKeepsTheRowsOfLaterShortFetches) {
  job_->array = 5;
  job_->error_count = 2;
  job_->error_codes[0] = 100;
  job_->error_codes[1] = 1406;
  cursor_.fail_from = 2;
  cursor_.fail_code = 1406;
  cursor_.fail_rows = 3;
  EXPECT_EQ(Run(20), 0);
  // Fetches: 5 rows, 3 with the error, 5, 5, then 2 with no data.
  EXPECT_EQ(ReadFile(Path("emp.csv")), CsvRows(1, 20));
  EXPECT_EQ(cursor_.fetch_calls, 5);
  ASSERT_GE(messages_.size(), 2u);
  EXPECT_EQ(messages_[1], "ORA-01406: injected fault\n");
}

TEST_F(UnloadLoop, UntoleratedErrorsStopWithStatus7) {
  job_->array = 5;
  job_->error_count = 1;
  job_->error_codes[0] = 1406;
  cursor_.fail_from = 2;
  cursor_.fail_code = 1555;
  EXPECT_EQ(Run(20), kRunFetchFailed);
  EXPECT_EQ(cursor_.fetch_calls, 2);
  EXPECT_EQ(messages_.back(), "ORA-01555: injected fault\n");
  EXPECT_TRUE(ClosedRows().empty());
}

// A success with information is a success that brings a warning, reported once however many
// fetches repeat it, except a truncation or null fetch, which fails unless tolerated.
TEST_F(UnloadLoop, SuccessWithInfoIsSuccessExceptTruncation) {
  job_->array = 5;
  struct Case {
    int code;
    int status;
    std::string rows;
  } cases[] = {
      {24347, 0, CsvRows(1, 20)},
      {28011, 0, CsvRows(1, 20)},
      {24345, kRunFetchFailed, ""},
  };
  for (const Case& entry : cases) {
    messages_.clear();
    session_.status = 0;
    session_.warning_count = 0;
    cursor_ = FakeCursor{columns_.head(),       0,          0, 0,           0, 1, 3,
                         OCI_SUCCESS_WITH_INFO, entry.code, 5, FillStandard};
    EXPECT_EQ(Run(20), entry.status) << entry.code;
    std::string text = "ORA-" + std::to_string(entry.code) + ": injected fault\n";
    int seen = 0;
    for (const std::string& message : messages_) seen += message == text ? 1 : 0;
    EXPECT_EQ(seen, 1) << entry.code;
    if (entry.status == 0) {
      EXPECT_EQ(ReadFile(Path("emp.csv")), entry.rows) << entry.code;
      EXPECT_EQ(cursor_.fetch_calls, 5) << entry.code;
    } else {
      EXPECT_TRUE(ClosedRows().empty()) << entry.code;
    }
  }
}

TEST_F(UnloadLoop, ToleratedErrorRepeatingWithoutRowsEnds) {
  job_->array = 5;
  job_->error_count = 1;
  job_->error_codes[0] = 1406;
  cursor_.fail_from = 2;
  cursor_.fail_times = 1000000;
  cursor_.fail_code = 1406;
  EXPECT_EQ(Run(20), kRunFetchFailed);
  EXPECT_EQ(cursor_.fetch_calls, 1 + kMaxEmptyToleratedFetches);
  EXPECT_NE(messages_.back().find("repeated"), std::string::npos);
}

TEST_F(UnloadLoop, StdoutModeWritesNoMessages) {
  SetFile("-");
  int status = -1;
  std::string printed = CaptureStdout([&] { status = Run(25, 64); });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(printed, CsvRows(1, 25));
}

TEST_F(UnloadLoop, FullDiskFailsWithStatus2) {
  SetFile("/dev/full");
  EXPECT_EQ(Run(10), kRunWriteFailed);
  EXPECT_EQ(messages_.back(), "ERROR -- Cannot write to file : /dev/full\n");
  EXPECT_TRUE(ClosedRows().empty());
  // A failure in the middle of the run, with a tiny buffer, stops at once.
  messages_.clear();
  cursor_ = FakeCursor{columns_.head(), 0, 0, 0, 0, 0, 1, OCI_ERROR, 0, 0, FillStandard};
  EXPECT_EQ(Run(500, 64), kRunWriteFailed);
  EXPECT_LT(cursor_.fetch_calls, 2);
}

TEST_F(UnloadLoop, UnopenableFileFailsWithStatus6) {
  SetFile("missing/emp.csv");
  EXPECT_EQ(Run(10), kRunOpenFailed);
  EXPECT_EQ(messages_, std::vector<std::string>(
                           {"ERROR -- Cannot write to file : " + Path("missing/emp.csv") + "\n"}));
  EXPECT_EQ(cursor_.fetch_calls, 0);

  // A later file that cannot be opened stops the run too; the first file stays as written.
  messages_.clear();
  session_.status = 0;
  SetFile("x_%b.csv");
  std::string blocker = Path("x_2.csv");
  ASSERT_TRUE(
      std::filesystem::create_directory(blocker));  // a directory cannot be opened as a file
  job_->batch = 1;
  job_->rows = 1000;
  cursor_ = FakeCursor{columns_.head(), 0, 0, 0, 0, 0, 1, OCI_ERROR, 0, 0, FillStandard};
  EXPECT_EQ(Run(1500), kRunOpenFailed);
  EXPECT_EQ(ReadFile(Path("x_1.csv")), CsvRows(1, 1000));
  EXPECT_EQ(messages_.back(), "ERROR -- Cannot write to file : " + blocker + "\n");
}

TEST_F(UnloadLoop, NameTooLongFailsWithStatus6) {
  std::string pattern(50, 'n');
  for (int k = 0; k < 100; ++k) pattern += "%T";  // ten digits each
  std::snprintf(job_->file, sizeof job_->file, "%s", pattern.c_str());
  EXPECT_EQ(Run(10), kRunOpenFailed);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_NE(messages_[0].find("longer than 511"), std::string::npos);
  EXPECT_EQ(messages_[1].size(), std::string("ERROR -- Cannot write to file : \n").size() + 511);
}

TEST_F(UnloadLoop, CommandOutput) {
  std::string target = Path("piped.csv");
  SetFile("-" + CopyToFileCommand(target));
  EXPECT_EQ(Run(300, 64), 0);
  EXPECT_EQ(ReadFile(target), CsvRows(1, 300));
  EXPECT_EQ(ClosedRows(), std::vector<int>({300}));

  // A command that fails is a failed write.
  messages_.clear();
  const std::string failing = "-" + ReadAllThenExitCommand(3);
  SetFile(failing);
  cursor_ = FakeCursor{columns_.head(), 0, 0, 0, 0, 0, 1, OCI_ERROR, 0, 0, FillStandard};
  EXPECT_EQ(Run(10), kRunWriteFailed);
  EXPECT_NE(messages_.back().find("ERROR -- Cannot close file : " + failing), std::string::npos);

  // A command that stops reading early breaks the pipe: the write fails, the program lives on.
  messages_.clear();
  session_.status = 0;
  SetFile("-" + ReadLittleCommand());
  cursor_ = FakeCursor{columns_.head(), 0, 0, 0, 0, 0, 1, OCI_ERROR, 0, 0, FillStandard};
  EXPECT_EQ(Run(20000), kRunWriteFailed);
}

// The MySQL statement framing: one statement per fetched array, ",\n" between tuples, hex
// columns through unhex, and whole statements in each file when a batch switch falls inside one.
TEST_F(UnloadLoop, MySqlStatementsPerFetch) {
  job_->format = 1;
  job_->head = 0;
  job_->escape = '\\';
  SetText(job_->quote, nullptr, "'");
  SetText(job_->null, &job_->null_length, "null");
  job_->array = 5;
  cursor_.fill = [](ColumnDesc* c, int column, int row, int slot) {
    if (column == 0)
      SetValue(c, slot, std::to_string(row));
    else if (column == 1)
      SetValue(c, slot, "A");
    else
      SetNull(c, slot);
  };
  SetText(job_->table, nullptr, "T");
  EXPECT_EQ(Run(7), 0);
  const std::string head = "INSERT  INTO `T` (`ID`,`NAME`,`NOTE`) VALUES \n";
  EXPECT_EQ(ReadFile(Path("emp.csv")),
            head +
                "(1,unhex('41'),null),\n(2,unhex('41'),null),\n(3,unhex('41'),null),\n"
                "(4,unhex('41'),null),\n(5,unhex('41'),null);\n" +
                head + "(6,unhex('41'),null),\n(7,unhex('41'),null);\n");

  messages_.clear();
  job_->batch = 1;
  job_->rows = 3;
  cursor_.next_row = 0;
  cursor_.row_count = 0;
  cursor_.fetch_calls = 0;
  // With the duplicate-key tail, a statement cut by a file switch is closed with its tail in
  // the first file and opened again with its head in the next.
  job_->update = 1;
  const std::string tail =
      "\nON DUPLICATE KEY UPDATE \n    `ID`=VALUES(`ID`), `NAME`=VALUES(`NAME`), "
      "`NOTE`=VALUES(`NOTE`);\n";
  EXPECT_EQ(Run(5), 0);
  EXPECT_EQ(ReadFile(Path("emp.csv")),
            head + "(1,unhex('41'),null),\n(2,unhex('41'),null),\n(3,unhex('41'),null)" + tail);
  EXPECT_EQ(ReadFile(Path("emp_2.csv")),
            head + "(4,unhex('41'),null),\n(5,unhex('41'),null)" + tail);
}

}  // namespace
}  // namespace rowflume
