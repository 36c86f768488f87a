#include "output/manifest.h"

#include "output/digest_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/files.h"

namespace rowflume {
namespace {

using namespace testing_support;

// Everything a reader takes back from the document, bytes no JSON string can hold included.
TEST(Manifest, ReadsBackWhatItWrites) {
  Manifest written;
  written.program = "rowflume 0.1.0";
  written.started = "2026-12-08T16:00:00Z";
  written.user = "scott";
  written.connect = "sqlite:demo.db";
  written.query = "select * from t where id > :lo -- \xe9t\xe9";  // Latin-1, not UTF-8
  written.scn = "8123456";
  written.binds = {{"LO", "10"}, {"NAME", "caf\xc3\xa9"}};
  written.layout.field = std::string("\x00\xff,", 3);
  written.layout.record = "\r\n";
  written.layout.quote = "\"";
  written.layout.escape = '\\';
  written.layout.fixed_record_length = 42;
  written.status = 0;
  written.complete = true;
  written.lob_set = 3;
  written.pieces = {{1, "AAAA", "AAAB", 2, 0, true}, {2, "", "", 1, 7, false}};
  ManifestFile data;
  data.name = "out/\xe9t\xe9 \"1\".csv";
  data.kind = kDataFile;
  data.rows = 5;
  data.first_row = 1;
  data.last_row = 5;
  data.bytes = 77;
  data.sha256 = std::string(64, 'a');
  written.files = {data};

  Manifest read;
  std::string error;
  ASSERT_TRUE(ParseManifest(ManifestJson(written), &read, &error)) << error;
  EXPECT_EQ(read.query, written.query);
  EXPECT_EQ(read.binds, written.binds);
  EXPECT_EQ(read.layout.field, written.layout.field);
  EXPECT_EQ(read.layout.record, "\r\n");
  EXPECT_EQ(read.layout.escape, '\\');
  EXPECT_EQ(read.layout.fixed_record_length, 42);
  EXPECT_EQ(read.lob_set, 3);
  ASSERT_EQ(read.pieces.size(), 2u);
  EXPECT_EQ(read.pieces[1].status, 7);
  EXPECT_FALSE(read.pieces[1].complete);
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_EQ(read.files[0].name, data.name);
  EXPECT_EQ(read.files[0].last_row, 5u);
  EXPECT_EQ(read.files[0].sha256, data.sha256);

  for (const char* text :
       {"", "[]", "{\"rowflume_manifest\": 2}", "{\"other\": 1}", "{\"rowflume_manifest\": 1}"}) {
    EXPECT_FALSE(ParseManifest(text, &read, &error)) << text;
  }
}

// The checksum list is what sha256sum writes, names with backslashes and line breaks escaped,
// and holds no line for outputs that are no file.
TEST(Manifest, ChecksumLinesAsSha256sumWritesThem) {
  Manifest manifest;
  const std::string hex(64, '0');
  const struct {
    const char* name;
    const char* kind;
    std::string line;
  } cases[] = {
      {"plain.csv", kDataFile, hex + "  plain.csv\n"},
      {"a\\b", kLobFile, "\\" + hex + "  a\\\\b\n"},
      {"two\nlines", kControlFile, "\\" + hex + "  two\\nlines\n"},
      {"gzip -c", kCommandOutput, ""},
  };
  std::string expected;
  for (const auto& entry : cases) {
    ManifestFile file;
    file.name = entry.name;
    file.kind = entry.kind;
    file.sha256 = hex;
    manifest.files.push_back(file);
    expected += entry.line;
  }
  EXPECT_EQ(ChecksumLines(manifest), expected);
}

TEST(Manifest, UtcTimestamps) {
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {{0, "1970-01-01T00:00:00Z"},          {951782400, "2000-02-29T00:00:00Z"},
               {-1, "1969-12-31T23:59:59Z"},         {4107542399, "2100-02-28T23:59:59Z"},
               {1796745600, "2026-12-08T16:00:00Z"}, {253402300799, "9999-12-31T23:59:59Z"}};
  for (const auto& entry : cases) EXPECT_EQ(UtcTimestamp(entry.seconds), entry.text);
}

// A file is named for each way it differs from its entry.
TEST(Manifest, FileMismatchNamesTheDifference) {
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  ManifestFile file;
  file.name = dir + "/f.txt";
  EXPECT_EQ(FileMismatch(file), "missing");
  WriteFile(file.name, "abc");
  ASSERT_TRUE(HashFile(file.name, &file.bytes, &file.sha256));
  EXPECT_EQ(file.sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(FileMismatch(file), "");
  WriteFile(file.name, "abd");
  EXPECT_EQ(FileMismatch(file).rfind("changed", 0), 0u) << FileMismatch(file);
  WriteFile(file.name, "ab");
  EXPECT_EQ(FileMismatch(file), "short: 2 bytes instead of 3");
}

// The worker's digest is the file's, whatever the pieces it is given (larger than its own piece
// included), and each Take starts the next file's digest afresh.
TEST(Manifest, DigestWorkerMatchesTheWholeFile) {
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  std::string data;
  for (int k = 0; k < 100000; ++k) data += static_cast<char>(k * 7919 % 251);
  WriteFile(dir + "/d.bin", data);
  uint64_t bytes = 0;
  std::string expected;
  ASSERT_TRUE(HashFile(dir + "/d.bin", &bytes, &expected));
  DigestWorker* worker = StartDigestWorker(4096);
  ASSERT_NE(worker, nullptr);
  for (size_t step : {7u, 1000u, 4096u, 9999u, 100000u}) {
    for (size_t at = 0; at < data.size(); at += step) {
      DigestWorkerAdd(worker, data.data() + at, std::min(step, data.size() - at));
    }
    EXPECT_EQ(DigestWorkerTake(worker), expected) << step;
  }
  StopDigestWorker(worker);
}

}  // namespace
}  // namespace rowflume
