// The built program when the system fails it: a disk that fills up under a later batch file, a
// LOB file or the log, an output command that ends at once, and the program killed in the
// middle of a batch unload. A failure must end the run with its result code and a message, and
// whatever was finished before it must stay whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/program_folder.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;
namespace fs = std::filesystem;

bool HasFullDevice() {
  return access("/dev/full", W_OK) == 0;
}

class SystemFaults : public ProgramFolderTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ProgramFolderTest::SetUp());
    ASSERT_TRUE(
        db_->Exec("CREATE TABLE T (ID NUMBER(8), NAME VARCHAR2(30), AMOUNT NUMBER(10,2), DOC BLOB);"
                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500)"
                  " INSERT INTO T SELECT i, 'name ' || i, i * 1.25,"
                  " CASE WHEN i <= 10 THEN CAST('doc ' || i AS BLOB) END FROM n;"));
  }
};

TEST_F(SystemFaults, DiskFullUnderALaterBatchFile) {
  if (!HasFullDevice()) GTEST_SKIP() << "no /dev/full";
  const std::string query = "query=select id, name, amount from T order by id";
  ProgramRun plain = Unload({query, "file=-"});
  ASSERT_EQ(plain.status, 0);
  // The second file of the run lands on a full disk.
  fs::create_symlink("/dev/full", Path("part_2.txt"));
  ProgramRun run = Unload({query, "rows=1000", "batch=yes", "file=part_%b.txt"});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_NE(run.out.find("ERROR -- Cannot write to file : part_2.txt\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("output file part_1.txt closed at 1000 rows"), std::string::npos);
  EXPECT_EQ(run.out.find("part_2.txt closed"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(Path("part_3.txt")));
  // The whole first file is taken back, so that it cannot pass for the unload; the link to the
  // device, which the run did not make, stays.
  EXPECT_FALSE(fs::exists(Path("part_1.txt")));
  EXPECT_TRUE(fs::is_symlink(Path("part_2.txt")));
  EXPECT_NE(run.out.find("its 1 output files were removed"), std::string::npos) << run.out;
}

// A full disk under the data file of a LOB unload: the run fails and takes back every LOB file
// it wrote, leaving the link to the device, which it did not make.
TEST_F(SystemFaults, DiskFullUnderALobUnload) {
  if (!HasFullDevice()) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", Path("docs.txt"));
  ProgramRun run = Unload({"query=select id, name, doc from T where id <= 10 order by id",
                           "lob=FILE", "file=docs.txt"});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_NE(run.out.find("ERROR -- Cannot write to file : docs.txt\n"), std::string::npos)
      << run.out;
  EXPECT_TRUE(fs::is_symlink(Path("docs.txt")));
  for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
    EXPECT_NE(entry.path().extension(), ".dat") << entry.path();
    EXPECT_NE(entry.path().filename().string().substr(0, 3), "LOB") << entry.path();
  }
}

TEST_F(SystemFaults, LogThatCannotTakeMessages) {
  if (!HasFullDevice()) GTEST_SKIP() << "no /dev/full";
  const std::string query = "query=select id, name, amount from T order by id";
  ProgramRun plain = Unload({query, "file=-"});
  // Messages a full log refuses go to standard error: they cost no data, and the run does not
  // end with 0 as if they had been written.
  const std::string log = "log=/dev/full";
  ProgramRun run = Unload({query, "file=t.txt", log});
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(ReadFile(Path("t.txt")) == plain.out);
  EXPECT_NE(run.err.find("rows exported at"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("could not be written to log file /dev/full"), std::string::npos);
  run = Unload({"query=select * from nosuch", "file=t.txt", log});
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("ORA-00942"), std::string::npos) << run.err;
  EXPECT_EQ(Unload({query, "file=no/such/folder/t.txt", log}).status, 6);
}

TEST_F(SystemFaults, OutputCommandThatEndsAtOnce) {
  const std::string query = "query=select id, name, amount from T, (select 1 union all select 2)";
  // Far more than a pipe holds: the writes meet a closed pipe.
  ProgramRun run = Unload({query, "file=-exit 0"});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_NE(run.out.find("ERROR -- Cannot write to file : -exit 0\n"), std::string::npos)
      << run.out;
  // A command that fails fails the run even when everything fitted into the pipe; whether its
  // end is met by the write or by the close depends on timing, never the result.
  run = Unload({"query=select id from T where id = 1", "file=-exit 4"});
  EXPECT_EQ(run.status, 2) << run.out;
  EXPECT_TRUE(run.out.find("ERROR -- Cannot close file : -exit 4\n") != std::string::npos ||
              run.out.find("ERROR -- Cannot write to file : -exit 4\n") != std::string::npos)
      << run.out;
}

// Killed without warning in the middle of a batch unload, the program leaves every file it had
// finished exactly as a complete run writes it, and the file it was writing a beginning of it.
TEST_F(SystemFaults, KilledInTheMiddleOfABatchUnload) {
  ASSERT_TRUE(
      db_->Exec("CREATE TABLE BIG (ID NUMBER(10), TXT VARCHAR2(200));"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000)"
                " INSERT INTO BIG SELECT i, printf('%0120d', i * 7919) FROM n;"));
  const std::vector<std::string> args = {db_->user(), "query=select * from BIG order by id",
                                         "text=CSV", "rows=1000", "batch=yes"};
  fs::create_directory(Path("whole"));
  fs::create_directory(Path("killed"));
  std::vector<std::string> whole_args = args;
  whole_args.push_back("file=whole/part_%b.csv");
  ASSERT_EQ(RunProgram(dir_, whole_args).status, 0);

  std::vector<std::string> killed_args = args;
  killed_args.push_back("file=killed/part_%b.csv");
  StartedProgram* program = StartProgram(dir_, killed_args);
  ASSERT_NE(program, nullptr);
  // Killed once a good number of files are done, well before the last one.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(Path("killed/part_40.csv")) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(KillProgram(program)) << "the unload ended before it was killed";

  int highest = 0;
  while (fs::exists(Path("killed/part_" + std::to_string(highest + 1) + ".csv"))) ++highest;
  ASSERT_GE(highest, 40);
  ASSERT_TRUE(fs::exists(Path("whole/part_" + std::to_string(highest + 1) + ".csv")))
      << "the killed run had reached its last file";
  for (int k = 1; k <= highest; ++k) {
    SCOPED_TRACE(k);
    std::string name = "part_" + std::to_string(k) + ".csv";
    std::string killed = ReadFile(Path("killed/" + name));
    std::string whole = ReadFile(Path("whole/" + name));
    if (k < highest) {
      EXPECT_TRUE(killed == whole);
    } else {
      EXPECT_TRUE(whole.compare(0, killed.size(), killed) == 0);
    }
  }
}

}  // namespace
}  // namespace rowflume
