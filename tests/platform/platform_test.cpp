#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/files.h"
#include "support/program_run.h"

namespace rowflume {
namespace {

using namespace testing_support;

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
  ASSERT_TRUE(WriteAll(out, "piped\n", 6));
  EXPECT_EQ(CloseStream(out), 0);
  EXPECT_EQ(ReadFile(path), "piped\n");

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
