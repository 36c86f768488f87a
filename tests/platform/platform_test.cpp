#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

std::string HexOf(const unsigned char (&sha256)[kSha256Bytes]) {
  return Hex(std::string(reinterpret_cast<const char*>(sha256), kSha256Bytes));
}

// The digest of the bytes added in one piece.
std::string Sha256Hex(const std::string& bytes) {
  Sha256Digest* digest = Sha256Begin();
  unsigned char sha256[kSha256Bytes];
  Sha256Add(digest, bytes.data(), bytes.size());
  return Sha256End(digest, sha256) ? HexOf(sha256) : "no digest";
}

TEST(PlatformStreams, FileTruncateAndAppend) {
  std::string path = TempPath("platform_stream.txt");
  OutputStream* out = OpenFileStream(path.c_str(), OpenMode::kTruncate);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(WriteAll(out, "abc\n", 4));
  ASSERT_EQ(CloseStream(out), 0);
  out = OpenFileStream(path.c_str(), OpenMode::kAppend);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(WriteAll(out, "def\n", 4));
  ASSERT_EQ(CloseStream(out), 0);
  EXPECT_EQ(ReadFile(path), "abc\ndef\n");
  EXPECT_EQ(OpenFileStream("/nonexistent-dir/x.txt", OpenMode::kTruncate), nullptr);
}

TEST(PlatformStreams, CommandReceivesBytesAndItsFailureIsReported) {
  std::string path = TempPath("platform_command.txt");
  std::string command = CopyToFileCommand(path);
  OutputStream* out = OpenCommandStream(command.c_str());
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(DigestStream(out));
  ASSERT_TRUE(WriteAll(out, "piped\n", 6));
  StreamTally tally;
  EXPECT_EQ(CloseStream(out, &tally), 0);
  EXPECT_EQ(ReadFile(path), "piped\n");
  EXPECT_EQ(tally.bytes, 6u);
  EXPECT_EQ(HexOf(tally.sha256), Sha256Hex("piped\n"));

  out = OpenCommandStream("exit 3");
  ASSERT_NE(out, nullptr);
  EXPECT_NE(CloseStream(out), 0);
}

TEST(PlatformStreams, CommandThatExitsEarlyGivesFailedWriteNotSignal) {
  OutputStream* out = OpenCommandStream("exit 0");
  ASSERT_NE(out, nullptr);
  PauseMilliseconds(100);
  std::string block(1 << 20, 'x');
  bool all_ok = true;
  for (int i = 0; i < 8 && all_ok; ++i) all_ok = WriteAll(out, block.data(), block.size());
  EXPECT_FALSE(all_ok);
  CloseStream(out);
}

TEST(PlatformDigest, KnownVectorsAddedInUnevenPieces) {
  const struct {
    std::string text;
    const char* sha256;
  } vectors[] = {
      {"", "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
      {"abc", "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
      {std::string(1000000, 'a'),
       "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
  };
  // Around the 64-byte block, so that pieces end inside blocks, on their edges and across them;
  // an empty piece among them must change nothing.
  const size_t pieces[] = {1, 63, 64, 65, 127, 0, 1000, 4099};
  for (const auto& vector : vectors) {
    Sha256Digest* digest = Sha256Begin();
    ASSERT_NE(digest, nullptr);
    for (size_t at = 0, piece_idx = 0; at < vector.text.size(); ++piece_idx) {
      const size_t piece = std::min(pieces[piece_idx % std::size(pieces)], vector.text.size() - at);
      Sha256Add(digest, vector.text.data() + at, piece);
      at += piece;
    }
    unsigned char sha256[kSha256Bytes];
    ASSERT_TRUE(Sha256End(digest, sha256));
    EXPECT_EQ(HexOf(sha256), vector.sha256) << vector.text.size() << " bytes";
  }
}

TEST(PlatformStreams, TallyCountsEveryByteAndDigestsThemWhenAsked) {
  const std::string bytes = PatternBytes(100000);
  const std::string path = TempPath("platform_tally.bin");
  for (bool digested : {false, true}) {
    SCOPED_TRACE(digested ? "digested" : "counted only");
    OutputStream* out = OpenFileStream(path.c_str(), OpenMode::kTruncate);
    ASSERT_NE(out, nullptr);
    if (digested) {
      ASSERT_TRUE(DigestStream(out));
    }
    for (size_t at = 0; at < bytes.size(); at += 7919) {
      ASSERT_TRUE(WriteAll(out, bytes.data() + at, std::min<size_t>(7919, bytes.size() - at)));
    }
    StreamTally tally;
    ASSERT_EQ(CloseStream(out, &tally), 0);
    EXPECT_EQ(tally.bytes, bytes.size());
    EXPECT_EQ(tally.digested, digested);
    EXPECT_EQ(ReadFile(path), bytes);
    if (digested) {
      EXPECT_EQ(HexOf(tally.sha256), Sha256Hex(bytes));
    }
  }
}

TEST(PlatformStreams, TemporaryFileNameStaysInTheFolder) {
  const std::vector<std::pair<std::string, std::string>> names = {
    {"emp.csv", ".emp.csv.part"},
    {"out/2026/emp.csv", "out/2026/.emp.csv.part"},
#if defined(_WIN32)
    {"out\\2026/x\\emp.csv", "out\\2026/x\\.emp.csv.part"},
    {"C:emp.csv", "C:.emp.csv.part"},
    {"C:\\emp.csv", "C:\\.emp.csv.part"},
#endif
  };
  for (const auto& [name, temp_name] : names) {
    char temp[64];
    TemporaryFileName(name.c_str(), temp, sizeof temp);
    EXPECT_EQ(temp, temp_name);
  }
}

// Until the close the name shows what it held before, or nothing; then exactly the new bytes,
// or after a discard what it held before; no temporary file is left either way.
TEST(PlatformReplaceOnClose, NameShowsOnlyWholeOutput) {
  const std::string bytes = PatternBytes(5000);
  const std::vector<std::pair<std::string, std::string>> names = {
    {"x.txt", ".x.txt.part"},
    {"sub/x.txt", "sub/.x.txt.part"},
#if defined(_WIN32)
    {"sub\\y.txt", "sub\\.y.txt.part"},
#endif
  };
  for (const auto& [name, temp_name] : names) {
    for (const char* old : {static_cast<const char*>(nullptr), "old"}) {
      for (bool keep : {true, false}) {
        SCOPED_TRACE(name + (old != nullptr ? " over a file" : " new") +
                     (keep ? " closed" : " discarded"));
        const std::string dir = MakeTempDir();
        ASSERT_EQ(MakeDirectory((dir + "/sub").c_str()), 0);
        const std::string path = dir + "/" + name;
        const std::string temp = dir + "/" + temp_name;
        if (old != nullptr) WriteFile(path, old);
        OutputStream* out = OpenFileStream(path.c_str(), OpenMode::kReplaceOnClose);
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(WriteAll(out, bytes.data(), bytes.size()));
        EXPECT_TRUE(PathExists(temp.c_str()));
        EXPECT_EQ(PathExists(path.c_str()), old != nullptr);
        EXPECT_EQ(ReadFile(path), old != nullptr ? old : "");
        if (keep) {
          EXPECT_EQ(CloseStream(out), 0);
        } else {
          DiscardStream(out);
        }
        EXPECT_FALSE(PathExists(temp.c_str()));
        EXPECT_EQ(PathExists(path.c_str()), keep || old != nullptr);
        EXPECT_EQ(ReadFile(path), keep ? bytes : old != nullptr ? old : "");
      }
    }
  }
}

TEST(PlatformReplaceOnClose, FailedMoveRemovesTheTemporaryFile) {
  const std::string dir = MakeTempDir();
  const std::string path = dir + "/x.txt";
  OutputStream* out = OpenFileStream(path.c_str(), OpenMode::kReplaceOnClose);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(WriteAll(out, "new", 3));
  // A folder takes the name meanwhile, which no file may replace.
  ASSERT_EQ(MakeDirectory(path.c_str()), 0);
  WriteFile(path + "/kept", "kept");
  EXPECT_NE(CloseStream(out), 0);
  EXPECT_EQ(FilesStartingWith(dir, "."), std::vector<std::string>{});
  EXPECT_EQ(ReadFile(path + "/kept"), "kept");
}

// A reader that holds the old file open for a moment (on Windows, even one only checking its
// attributes) does not make the closing rename fail.
TEST(PlatformReplaceOnClose, ABriefReaderOfTheOldFileIsWaitedFor) {
  const std::string path = MakeTempDir() + "/held.txt";
  WriteFile(path, "old");
  std::FILE* reader = std::fopen(path.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  OutputStream* out = OpenFileStream(path.c_str(), OpenMode::kReplaceOnClose);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(WriteAll(out, "new", 3));
  std::thread closer([reader] {
    PauseMilliseconds(200);
    std::fclose(reader);
  });
  EXPECT_EQ(CloseStream(out), 0);
  closer.join();
  EXPECT_EQ(ReadFile(path), "new");
}

// A rename would put a plain file in place of a device or a link, or part a file from its other
// names: these are written where they are, as kTruncate writes them.
TEST(PlatformReplaceOnClose, DevicesAndLinksAreWrittenInPlace) {
  namespace fs = std::filesystem;
  const std::string dir = MakeTempDir();
  const std::string target = dir + "/target.txt";
  WriteFile(target, "old");
  fs::create_hard_link(target, dir + "/hard.txt");
  struct Name {
    std::string path;
    std::string lands_in;  // the file that receives the bytes; "" for a device
  };
  std::vector<Name> names = {{dir + "/hard.txt", target}};
#if defined(_WIN32)
  ASSERT_EQ(MakeDirectory((dir + "/sub").c_str()), 0);
  names.insert(names.end(), {{"NUL", ""}, {"\\\\.\\NUL", ""}, {dir + "\\sub\\nUl.txt", ""}});
#else
  fs::create_symlink("target.txt", dir + "/soft.txt");
  names.insert(names.end(), {{"/dev/null", ""}, {dir + "/soft.txt", target}});
#endif
  for (const Name& name : names) {
    SCOPED_TRACE(name.path);
    char temp[512];
    TemporaryFileName(name.path.c_str(), temp, sizeof temp);
    OutputStream* out = OpenFileStream(name.path.c_str(), OpenMode::kReplaceOnClose);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(WriteAll(out, name.path.data(), name.path.size()));
    EXPECT_FALSE(PathExists(temp));
    EXPECT_EQ(CloseStream(out), 0);
    EXPECT_FALSE(PathExists(temp));
    if (!name.lands_in.empty()) {
      EXPECT_EQ(ReadFile(name.lands_in), name.path);
    }
  }
  EXPECT_TRUE(SameExistingFile(target.c_str(), (dir + "/hard.txt").c_str()));
#if defined(_WIN32)
  // Ports that are not there: the open may fail, but no file is ever readied under their names.
  for (const std::string& port : {std::string("COM9"), dir + "\\sub\\lPt9 .log"}) {
    char temp[512];
    TemporaryFileName(port.c_str(), temp, sizeof temp);
    OutputStream* out = OpenFileStream(port.c_str(), OpenMode::kReplaceOnClose);
    EXPECT_FALSE(PathExists(temp)) << port;
    DiscardStream(out);
  }
#else
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_symlink(dir + "/soft.txt"));
#endif
}

TEST(PlatformFiles, MakeDirectoryIsIdempotent) {
  std::string dir = TempPath("platform_dir");
  EXPECT_EQ(MakeDirectory(dir.c_str()), 0);
  EXPECT_EQ(MakeDirectory(dir.c_str()), 0);
  std::string file = dir + "/f";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_NE(MakeDirectory(file.c_str()), 0);
}

TEST(PlatformFiles, RenameReplacingPutsTheFileInPlace) {
  const std::string from = TempPath("rename_from.txt");
  const std::string to = TempPath("rename_to.txt");
  WriteFile(from, "new");
  WriteFile(to, "old");
  ASSERT_EQ(RenameReplacing(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(ReadFile(to), "new");
  EXPECT_FALSE(PathExists(from.c_str()));
  EXPECT_NE(RenameReplacing(from.c_str(), to.c_str()), 0);
}

void Increment(void* arg) {
  ++*static_cast<int*>(arg);
}

TEST(PlatformThreads, StartAndJoin) {
  int counters[4] = {0, 0, 0, 0};
  ThreadHandle* threads[4];
  for (int i = 0; i < 4; ++i) threads[i] = StartThread(Increment, &counters[i]);
  for (auto* thread : threads) JoinThread(thread);
  for (int value : counters) EXPECT_EQ(value, 1);
}

TEST(PlatformLoading, MissingLibraryReportsLoaderText) {
  char error[256] = {0};
  EXPECT_EQ(OpenSharedLibrary("libdoes-not-exist.so", error, sizeof error), nullptr);
  // Not every loader names the file (Windows does not); the callers name it themselves.
  EXPECT_STRNE(error, "");
}

}  // namespace
}  // namespace rowflume
