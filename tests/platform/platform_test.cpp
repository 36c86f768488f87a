#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

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
