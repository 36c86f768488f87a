#include "job/command_line.h"
#include "scramble/scramble.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "job/options.h"
#include "support/files.h"
#include "support/job.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

// A stdio stream holding text, positioned at its start.
FILE* StreamOf(const std::string& text) {
  FILE* stream = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), stream);
  std::rewind(stream);
  return stream;
}

std::string ContentOf(FILE* stream) {
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof(block), stream)) > 0) text.append(block, got);
  return text;
}

void ApplyItems(UnloadHandle* job, const std::string& text) {
  FILE* stream = StreamOf(text);
  ReadParameterItems(job, stream, "test.par", nullptr);
  std::fclose(stream);
}

void RunPass1(UnloadHandle* job, std::vector<std::string> args) {
  Argv argv(std::move(args));
  ApplyOptionArguments(job, argv.argc(), argv.argv(), nullptr);
  CollectBindArguments(job, argv.argc(), argv.argv());
}

TEST(CommandLine, UserStringPositionsAndSilentLogon) {
  auto job = NewJob();
  RunPass1(job.get(), {"scott/tiger@db", "query=select 1"});
  EXPECT_STREQ(job->user, "scott/tiger@db");
  EXPECT_STREQ(job->query, "select 1");

  job = NewJob();
  RunPass1(job.get(), {"query=select 1", "scott/tiger@db"});
  EXPECT_STREQ(job->user, "");

  job = NewJob();
  RunPass1(job.get(), {"user=a/b", "query=x", "-SI"});
  EXPECT_STREQ(job->user, "/");
  job = NewJob();
  RunPass1(job.get(), {"-si", "user=a/b"});
  EXPECT_STREQ(job->user, "a/b");
  job = NewJob();
  RunPass1(job.get(), {"-six"});  // not the switch: an unknown first argument
  EXPECT_STREQ(job->user, "-six");

  // A first argument of any length keeps 128 characters, the rest of the record intact.
  job = NewJob();
  RunPass1(job.get(), {std::string(300, 'u')});
  EXPECT_EQ(std::strlen(job->user), 128u);
  EXPECT_STREQ(job->table, "");
}

TEST(CommandLine, BindArguments) {
  auto job = NewJob();
  RunPass1(job.get(), {":id=42", ":name=", ":=", ":", ":x", "field=|", ":a=b=c"});
  ASSERT_EQ(job->bind_count, 4);
  EXPECT_STREQ(job->binds[0].name, "id");
  EXPECT_EQ(job->binds[0].name_length, 2);
  EXPECT_STREQ(job->binds[0].value, "42");
  EXPECT_EQ(job->binds[0].value_length, 2);
  EXPECT_STREQ(job->binds[1].name, "name");
  EXPECT_EQ(job->binds[1].value_length, 0);
  EXPECT_STREQ(job->binds[2].name, "x");
  EXPECT_EQ(job->binds[2].value_length, 0);
  EXPECT_STREQ(job->binds[3].value, "b=c");
  // The first argument, unknown to the option parser, is also the user string.
  EXPECT_STREQ(job->user, ":id=42");

  // What cannot be bound whole refuses the job instead of running with a cut or missing value.
  struct Refusal {
    std::vector<std::string> args;
    const char* message;
  };
  std::vector<std::string> many;
  for (int idx = 0; idx <= kMaxCommandLineBinds; ++idx) {
    many.push_back(":b" + std::to_string(idx) + "=v");
  }
  const Refusal refusals[] = {
      {{"query=x", ":" + std::string(31, 'n') + "=1"}, "name :nnnnnnnnnnnnnnnnnnnnnnnnnnnnnn..."},
      {{"query=x", ":v=" + std::string(128, 'v')}, "value of bind variable :v is longer than 127"},
      {many, "At most 18 bind variables"},
  };
  for (const Refusal& refusal : refusals) {
    job = NewJob();
    RunPass1(job.get(), refusal.args);
    EXPECT_NE(std::string(job->refusal).find(refusal.message), std::string::npos) << job->refusal;
  }
  job = NewJob();
  RunPass1(job.get(), {"query=x", ":" + std::string(30, 'n') + "=" + std::string(127, 'v')});
  EXPECT_EQ(job->binds[0].name_length, 30);
  EXPECT_EQ(job->binds[0].value_length, 127);
  EXPECT_STREQ(job->refusal, "");
}

TEST(ParameterFile, ItemsContinuationLinesAndBlankLines) {
  auto job = NewJob();
  ApplyItems(job.get(), "file=out.txt\n\n   \nfield=|\n");
  EXPECT_STREQ(job->file, "out.txt");
  EXPECT_EQ(std::string(job->field, job->field_length), "|");

  job = NewJob();
  ApplyItems(job.get(), "file=out.txt\n  ,x\n");
  EXPECT_STREQ(job->file, "out.txt  ,x");

  // SQL texts keep their line breaks, so that a "--" comment ends with its line; a comment
  // item goes with its continuation lines.
  job = NewJob();
  ApplyItems(job.get(),
             "query=select a, b -- note\r\n  from t \t\r\n\twhere a > 0\r\n"
             "# a comment\n  rows=7000\nrows=5000\nPRESQL=begin\n null; end;\n");
  EXPECT_STREQ(job->query, "select a, b -- note\n  from t\n\twhere a > 0");
  EXPECT_STREQ(job->presql, "begin\n null; end;");
  EXPECT_EQ(job->rows, 5000u);

  // A line giving a decoded text only tabs and spaces keeps them; its line end goes.
  job = NewJob();
  ApplyItems(job.get(), "field=\t\r\nrecord= \t\nnull=x \t\nfile=out.txt \n");
  EXPECT_EQ(std::string(job->field, job->field_length), "\t");
  EXPECT_EQ(std::string(job->record, job->record_length), " \t");
  EXPECT_EQ(std::string(job->null, job->null_length), "x");
  EXPECT_STREQ(job->file, "out.txt");

  // Parameter files hold no binds, switches or user strings.
  job = NewJob();
  ApplyItems(job.get(), "scott/tiger\n:id=1\n-si\n");
  EXPECT_STREQ(job->user, "");
  EXPECT_EQ(job->bind_count, 0);
}

// Unknown keywords are ignored, each with a notice naming it and where it was; the first
// argument is the user string, binds are the second pass's, and no password is shown.
TEST(CommandLine, UnknownKeywordsAreNamed) {
  auto job = NewJob();
  FILE* notices = std::tmpfile();
  const std::string path = TempPath("unknown.par");
  WriteFile(path, "fiel=|\n# not a keyword\nscott/tiger@db\nrows=2000\n");
  Argv argv({"scott/tiger@db", "fiel=;", ":id=1", "parfile=" + path, "rows", "a/b@c"});
  ApplyOptionArguments(job.get(), argv.argc(), argv.argv(), notices);
  EXPECT_EQ(ContentOf(notices),
            "WARNING -- Unknown keyword fiel ignored\n"
            "WARNING -- Unknown keyword fiel in parameter file " +
                path +
                " ignored\n"
                "WARNING -- Unknown keyword scott/... in parameter file " +
                path +
                " ignored\n"
                "WARNING -- Unknown keyword a/... ignored\n");
  std::fclose(notices);
  EXPECT_STREQ(job->user, "scott/tiger@db");
  EXPECT_EQ(job->rows, 1000u);  // "rows" alone is known: an empty number
  unlink(path.c_str());
}

// A parameter file may name others, up to 8 below the command line's; one more refuses the job
// naming it (refusals_test has a file naming itself).
TEST(ParameterFile, NestedFilesAndTheirDepth) {
  auto name = [](int level) { return TempPath("nested" + std::to_string(level) + ".par"); };
  for (int level = 0; level < 9; ++level) {
    WriteFile(name(level),
              "rows=" + std::to_string(2000 + level) + "\nparfile=" + name(level + 1) + "\n");
  }
  WriteFile(name(9), "head=yes\n");
  auto job = NewJob();
  ReadParameterFile(job.get(), name(1).c_str());
  EXPECT_STREQ(job->refusal, "");
  EXPECT_EQ(job->head, 1);
  EXPECT_EQ(job->rows, 2008u);
  job = NewJob();
  ReadParameterFile(job.get(), name(0).c_str());
  EXPECT_EQ(std::string(job->refusal).find("Parameter file " + name(9) + " is nested more than 8"),
            9u)
      << job->refusal;
  for (int level = 0; level <= 9; ++level) unlink(name(level).c_str());
}

TEST(ParameterFile, LongLinesAndItems) {
  // Lines are read whole, however long: no piece of one becomes an item of its own.
  auto job = NewJob();
  ApplyItems(job.get(), "query=" + std::string(6000, 'a') + " b\nfield=|\n");
  EXPECT_EQ(std::string(job->query), std::string(6000, 'a') + " b");
  EXPECT_EQ(std::string(job->field, job->field_length), "|");
  EXPECT_STREQ(job->refusal, "");

  // An item beyond 32767 characters, or a NUL byte, refuses the job and ends the reading. The
  // line feeds that join a SQL text's lines count: 32767 characters with them are too many.
  std::string text = "alter=x";
  for (int line = 0; line < 100; ++line) text += "\n " + std::string(500, 'c');
  const std::string exact = "width=" + std::string(16374, 'w') + "\n " + std::string(16386, 'c');
  job = NewJob();
  ApplyItems(job.get(), exact + "\n");
  EXPECT_STREQ(job->refusal, "");
  const std::string inputs[] = {text + "\nfield=;\n", "rows=5000\n" + std::string(40000, 'x'),
                                std::string("field=;\n\0\n", 10), "alter" + exact.substr(5) + "\n"};
  for (const std::string& input : inputs) {
    job = NewJob();
    ApplyItems(job.get(), input);
    EXPECT_NE(std::string(job->refusal).find("file test.par"), std::string::npos) << job->refusal;
    EXPECT_EQ(job->alter[0], '\0');
  }
}

// Reading a parameter file must not need write access. As root the permission bits do not
// stop a writer, so the read then runs in a child process as an unprivileged user; Windows
// honours a read-only file for every user.
TEST(ParameterFile, ReadOnlyFileIsRead) {
  std::string path = TempPath("readonly.par");
  unlink(path.c_str());
  WriteFile(path, "user=scott/tiger\nfield=0x09\n");
  ASSERT_EQ(chmod(path.c_str(), 0400), 0);
#if !defined(_WIN32)
  if (geteuid() == 0) {
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
      UnloadHandle job;
      InitJobDefaults(&job);
      ReadParameterFile(&job, path.c_str());
      bool read = std::strcmp(job.user, "scott/tiger") == 0 && job.field_length == 1;
      _exit(read ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the read-only parameter file was not read";
    unlink(path.c_str());
    return;
  }
#endif
  auto job = NewJob();
  ReadParameterFile(job.get(), path.c_str());
  EXPECT_STREQ(job->user, "scott/tiger");
  chmod(path.c_str(), 0600);  // Windows deletes no read-only file
  unlink(path.c_str());
}

TEST(ParameterFile, MissingFileAndParfileArgument) {
  auto job = NewJob();
  ReadParameterFile(job.get(), TempPath("does-not-exist.par").c_str());
  EXPECT_NE(std::string(job->refusal).find("Cannot read parameter file"), std::string::npos);

  job = NewJob();
  std::string path = TempPath("args.par");
  WriteFile(path, "query=select 1\nrows=2000\n");
  RunPass1(job.get(), {"PARFILE=" + path, "rows=3000"});
  EXPECT_STREQ(job->query, "select 1");
  EXPECT_EQ(job->rows, 3000u);
  EXPECT_STREQ(job->user, "");  // a parfile in first position is no user string
  unlink(path.c_str());
}

TEST(SqlFile, StandardInputStopsAtSlashLine) {
  auto job = NewJob();
  FILE* input = StreamOf("select * from t\n/\nselect 1 from dual\n");
  AppendSqlLines(job.get(), input, true);
  std::fclose(input);
  EXPECT_STREQ(job->query, "select * from t\n ");
}

TEST(SqlFile, AppendedWithoutSeparator) {
  auto job = NewJob();
  std::string path = TempPath("tail.sql");
  WriteFile(path, "t\nwhere /x/ = 1");
  SetOption(job.get(), "query=select a from");
  SetOption(job.get(), ("sql=" + path).c_str());
  AppendSqlFile(job.get());
  EXPECT_STREQ(job->query, "select a fromt\n where /x/ = 1 ");
  unlink(path.c_str());

  auto unread = NewJob();
  SetOption(unread.get(), "query=q");
  SetOption(unread.get(), ("sql=" + TempPath("missing.sql")).c_str());
  AppendSqlFile(unread.get());
  EXPECT_NE(std::string(unread->refusal).find("Cannot read SQL file"), std::string::npos);
}

TEST(SqlFile, LongLinesWholeAndQueryLimit) {
  // A line longer than any buffer comes whole, a string literal in it untouched; a later line
  // beginning with "/" after a long one still ends standard input.
  auto job = NewJob();
  const std::string literal = "select '" + std::string(3000, 'p') + "=q' from t\n";
  FILE* input = StreamOf(literal + "/" + std::string(2000, 'x') + "\nselect 2\n");
  AppendSqlLines(job.get(), input, true);
  std::fclose(input);
  EXPECT_EQ(std::string(job->query), literal + " ");

  // Past 32767 characters, or at a NUL byte, the job is refused.
  const std::string inputs[] = {std::string(40, 's') + "\n", std::string("a\0b\n", 4)};
  for (const std::string& text : inputs) {
    job = NewJob();
    SetOption(job.get(), ("query=" + std::string(8191, 'q')).c_str());
    std::string repeated;
    while (repeated.size() < 40000) repeated += text;
    input = StreamOf(repeated);
    AppendSqlLines(job.get(), input, false);
    std::fclose(input);
    EXPECT_NE(job->refusal[0], '\0');
    EXPECT_LE(std::strlen(job->query), static_cast<size_t>(kQueryLimit));
  }
}

// Scrambles data as an output writer does: in writes of arbitrary sizes, each time processing
// the tail left over from before in front of the new bytes, and writing the tail plain at the end.
std::string ScrambleAsStream(const std::string& data, const char* key, std::mt19937& random) {
  std::string scrambled;
  std::string pending;
  size_t pos = 0;
  std::uniform_int_distribution<size_t> write_size(1, 5000);
  while (pos < data.size()) {
    size_t count = std::min(write_size(random), data.size() - pos);
    pending.append(data, pos, count);
    pos += count;
    int processed = ContentScramble(pending.data(), static_cast<int>(pending.size()), key);
    scrambled.append(pending, 0, static_cast<size_t>(processed));
    pending.erase(0, static_cast<size_t>(processed));
  }
  return scrambled + pending;
}

TEST(Uncrack, RestoresScrambledStreamByteForByte) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (size_t size : {size_t{40000}, size_t{16384}, size_t{16392}, size_t{5}, size_t{0}}) {
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(byte(random));
    char key[32] = {};
    std::memcpy(key, "s3cr\0t", 6);  // a decoded key may hold NUL bytes; all 8 take part
    std::string scrambled = ScrambleAsStream(data, key, random);
    ASSERT_EQ(scrambled.size(), data.size());
    if (size > 8) {
      EXPECT_NE(scrambled, data);
    }

    std::string path = TempPath("scrambled.bin");
    WriteFile(path, scrambled);
    FILE* out = std::tmpfile();
    EXPECT_EQ(UncrackFile(path.c_str(), key, out), 0);
    EXPECT_TRUE(ContentOf(out) == data) << "size " << size;
    std::fclose(out);
    unlink(path.c_str());
  }
  FILE* out = std::tmpfile();
  EXPECT_EQ(UncrackFile(TempPath("missing.bin").c_str(), "key", out), kUncrackUnreadable);
  EXPECT_EQ(ContentOf(out), "");
  std::fclose(out);
}

TEST(Uncrack, WriteFailureIsReported) {
  std::string path = TempPath("plain.bin");
  WriteFile(path, std::string(50000, 'p'));
  FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "no /dev/full";
  char key[32] = "key";
  EXPECT_EQ(UncrackFile(path.c_str(), key, full), kUncrackUnwritable);
  std::fclose(full);
  unlink(path.c_str());
}

// The shell completion offers exactly the keywords the parser knows, and completes layouts.
TEST(ShellCompletion, OffersEveryKeywordAndTheLayouts) {
  const std::string script = ReadFile(std::string(ROWFLUME_SOURCE_DIR) + "/dist/rowflume.bash");
  const size_t start = script.find("keywords=\"");
  ASSERT_NE(start, std::string::npos);
  std::vector<std::string> offered;
  std::string word;
  for (size_t pos = start + 10; script[pos] != '"'; ++pos) {
    if (script[pos] == '=') {
      offered.push_back(word);
      word.clear();
    } else if (script[pos] != ' ' && script[pos] != '\n') {
      word += script[pos];
    }
  }
  std::vector<std::string> known = {"parfile"};
  for (size_t idx = 0; KeywordAt(idx) != nullptr; ++idx) known.push_back(KeywordAt(idx));
  std::sort(offered.begin(), offered.end());
  std::sort(known.begin(), known.end());
  EXPECT_EQ(offered, known);
#if !defined(_WIN32)
  ProgramRun run =
      RunShell(".",
               "bash -c 'source \"$0\"; COMP_LINE=\"rowflume text=my\"; "
               "COMP_POINT=16; _rowflume; echo \"${COMPREPLY[*]}\"' " +
                   ShellQuote(std::string(ROWFLUME_SOURCE_DIR) + "/dist/rowflume.bash"));
  EXPECT_EQ(run.out, "MYSQL MYSQLINS\n") << run.err;
#endif
}

}  // namespace
}  // namespace rowflume
