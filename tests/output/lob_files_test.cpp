// LOB file names and the piecewise copy of one value into its file, against the fake client:
// pieces in order, every failure reported once and turned into a non-zero result.
#include "output/lob_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "output/field_encoding.h"
#include "platform/platform.h"
#include "support/columns.h"
#include "support/fake_oci.h"
#include "support/files.h"
#include "support/messages.h"

namespace rowflume {
namespace {

using namespace testing_support;

// A LOB file's name as the program writes it: its folder and file joined by the platform's
// separator.
std::string LobPath(const std::string& folder, const std::string& file) {
  return folder + DirectorySeparator() + file;
}

// What the scripted client delivers and where it fails.
struct LobScript {
  std::string value;     // the LOB's bytes
  size_t piece = 32768;  // bytes per read at most (the buffer size bounds it too)
  sword open_status = OCI_SUCCESS;
  int fail_read = 0;  // 1-based read call that fails; 0 none
  sword close_status = OCI_SUCCESS;
  // Seen.
  size_t delivered = 0;
  std::vector<ub4> offsets;
  std::vector<ub1> forms;  // the character-set form of each read
  int opens = 0;
  int closes = 0;
};

LobScript* g_script = nullptr;

sword ScriptOpen(OCISvcCtx*, OCIError*, OCILobLocator*, ub1 mode) {
  EXPECT_EQ(mode, OCI_LOB_READONLY);
  ++g_script->opens;
  return g_script->open_status;
}

sword ScriptRead(OCISvcCtx*, OCIError*, OCILobLocator*, ub4* amount, ub4 offset, void* buffer,
                 ub4 buffer_bytes, void*, sb4 (*)(void*, const void*, ub4, ub1), ub2, ub1 form) {
  g_script->offsets.push_back(offset);
  g_script->forms.push_back(form);
  EXPECT_EQ(*amount, 0u) << "the whole value is asked for";
  if (g_script->fail_read == static_cast<int>(g_script->offsets.size())) {
    *amount = 0;
    return OCI_ERROR;
  }
  size_t left = g_script->value.size() - g_script->delivered;
  if (left == 0) {  // an empty value, as a client answers it
    *amount = 0;
    return OCI_NO_DATA;
  }
  size_t take = std::min({left, g_script->piece, static_cast<size_t>(buffer_bytes)});
  std::memcpy(buffer, g_script->value.data() + g_script->delivered, take);
  g_script->delivered += take;
  *amount = static_cast<ub4>(take);
  return g_script->delivered < g_script->value.size() ? OCI_NEED_DATA : OCI_SUCCESS;
}

sword ScriptClose(OCISvcCtx*, OCIError*, OCILobLocator*) {
  ++g_script->closes;
  return g_script->close_status;
}

sword ScriptErrorGet(void*, ub4, OraText*, sb4* code, OraText* text, ub4 size, ub4) {
  *code = 22922;
  std::snprintf(reinterpret_cast<char*>(text), size, "ORA-22922: nonexistent LOB value\n");
  return OCI_SUCCESS;
}

class LobFileWrite : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    home_ = here;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    FakeOci& fake = FakeOci::Fresh();
    fake.script.LobOpen = ScriptOpen;
    fake.script.LobRead = ScriptRead;
    fake.script.LobClose = ScriptClose;
    fake.script.ErrorGet = ScriptErrorGet;
    std::memset(&session_, 0, sizeof session_);
    session_.oci = fake.api();
    session_.error = reinterpret_cast<OCIError*>(&script_);  // any non-null handle
    session_.callback = CaptureMessage;
    session_.callback_context = &messages_;
    g_script = &script_;
  }
  void TearDown() override {
    EXPECT_EQ(chdir(home_.c_str()), 0);
    std::filesystem::remove_all(dir_);
    g_script = nullptr;
  }

  int Write(const char* name, uint8_t form = SQLCS_IMPLICIT) {
    return WriteLobFile(&session_, reinterpret_cast<OCILobLocator*>(&script_), form, name);
  }

  std::string dir_, home_;
  DbSession session_;
  LobScript script_;
  std::vector<std::string> messages_;
};

TEST(LobFileName, SchemeSpreadsAndNamesEveryRowOnce) {
  char name[kLobNameBytes];
  EXPECT_EQ(FormatLobFileName(name, sizeof name, 8, 0, 1, 0, 2), kLobNameLength);
  EXPECT_EQ(std::string(name), LobPath("LOB0000", "010000000000_0002.dat"));
  FormatLobFileName(name, sizeof name, 8, 0, 1, 9, 5);
  EXPECT_EQ(std::string(name), LobPath("LOB0001", "010000000009_0005.dat"));
  FormatLobFileName(name, sizeof name, 1024, 0, 128, 0x123456789aULL, 1022);
  EXPECT_EQ(std::string(name), LobPath("LOB009a", "80123456789a_03fe.dat"));
  // Pieces of a parallel unload write the same row numbers under different names.
  FormatLobFileName(name, sizeof name, 8, 0, 2, 9, 5);
  EXPECT_EQ(std::string(name), LobPath("LOB0001", "020000000009_0005.dat"));
  // Another unload in the folder writes into a set of folders of its own.
  FormatLobFileName(name, sizeof name, 8, 3, 2, 9, 5);
  EXPECT_EQ(std::string(name), LobPath("LOB0c01", "020000000009_0005.dat"));
  EXPECT_LE(kLobNameLength, kLobNameWidth);
  EXPECT_EQ(FormatLobFileName(name, kLobNameLength, 8, 0, 1, 0, 0), -1);
}

// Pieces arrive in order and land whole; the offset advances by what each read delivered, and
// every read names the LOB's own character-set form.
TEST_F(LobFileWrite, PiecesLandInOrder) {
  script_.value = PatternBytes(70000);
  script_.piece = 30000;
  ASSERT_EQ(Write("LOB0003/x.dat", SQLCS_NCHAR), 0);
  EXPECT_TRUE(ReadFile("LOB0003/x.dat") == script_.value);
  EXPECT_EQ(script_.offsets, (std::vector<ub4>{1, 30001, 60001}));
  EXPECT_EQ(script_.forms, (std::vector<ub1>{SQLCS_NCHAR, SQLCS_NCHAR, SQLCS_NCHAR}));
  EXPECT_EQ(script_.closes, 1);
  EXPECT_TRUE(messages_.empty());

  // A file of the name that exists already is never written over; an empty value, whose read
  // answers no data, gives an empty file and no message.
  script_ = LobScript{};
  EXPECT_EQ(Write("LOB0003/x.dat"), -1);
  EXPECT_TRUE(ReadFile("LOB0003/x.dat") == PatternBytes(70000));
  EXPECT_EQ(messages_,
            (std::vector<std::string>{"ERROR -- Cannot write to file : LOB0003/x.dat\n"}));
  messages_.clear();
  script_ = LobScript{};
  ASSERT_EQ(Write("LOB0003/empty.dat"), 0);
  EXPECT_EQ(ReadFile("LOB0003/empty.dat"), "");
  EXPECT_EQ(script_.closes, 1);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(LobFileWrite, ClientFailuresAreReportedOnce) {
  script_.open_status = OCI_INVALID_HANDLE;
  EXPECT_EQ(Write("LOB0000/open.dat"), OCI_INVALID_HANDLE);
  EXPECT_FALSE(FileExists("LOB0000/open.dat"));
  EXPECT_EQ(script_.closes, 0) << "a LOB that did not open is not closed";
  EXPECT_EQ(messages_, (std::vector<std::string>{"ORA-22922: nonexistent LOB value\n"}));

  messages_.clear();
  script_ = LobScript{};
  script_.value = PatternBytes(50000);
  script_.fail_read = 2;
  EXPECT_EQ(Write("LOB0000/read.dat"), OCI_ERROR);
  EXPECT_EQ(script_.closes, 1);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(ReadFile("LOB0000/read.dat").size(), 32768u) << "bytes read before stay";

  messages_.clear();
  script_ = LobScript{};
  script_.value = "abc";
  script_.close_status = OCI_ERROR;
  EXPECT_EQ(Write("LOB0000/close.dat"), OCI_ERROR);
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(LobFileWrite, FileFailuresNameTheFile) {
  // The subdirectory cannot be made: a plain file has its name.
  std::ofstream("LOB0005") << "x";
  script_.value = "abc";
  EXPECT_EQ(Write("LOB0005/a.dat"), -1);
  EXPECT_EQ(script_.closes, 1);
  EXPECT_EQ(messages_,
            (std::vector<std::string>{"ERROR -- Cannot write to file : LOB0005/a.dat\n"}));

  // A full disk: the write fails after the open.
  messages_.clear();
  std::filesystem::create_directory("LOB0006");
  std::filesystem::create_symlink("/dev/full", "LOB0006/full.dat");
  script_ = LobScript{};
  script_.value = "abc";
  EXPECT_EQ(Write("LOB0006/full.dat"), -1);
  EXPECT_EQ(messages_,
            (std::vector<std::string>{"ERROR -- Cannot write to file : LOB0006/full.dat\n"}));
}

// The encoder hook: a written value gives its name, a failed one is counted and gives none.
TEST_F(LobFileWrite, HookNamesWrittenValuesAndCountsFailures) {
  Columns columns(4);
  ColumnDesc* lob = columns.Add("DOC", SQLT_CLOB, SQLT_CLOB, sizeof(OCILobLocator*), true, false);
  lob->charset_form = SQLCS_NCHAR;
  OCILobLocator* locator = reinterpret_cast<OCILobLocator*>(&script_);
  std::memcpy(lob->define_buffer + 2 * sizeof locator, &locator, sizeof locator);
  LobFileSink sink;
  InitLobFileSink(&sink, &session_, 8, 0, 3);
  char name[256];
  script_.value = "value";
  ASSERT_EQ(WriteLobValue(&sink, lob, 2, 10, 4, name, sizeof name), kLobNameLength);
  EXPECT_EQ(std::string(name), LobPath("LOB0002", "03000000000a_0004.dat"));
  EXPECT_EQ(ReadFile(name), "value");
  EXPECT_EQ(script_.forms, std::vector<ub1>{SQLCS_NCHAR}) << "the column's form";
  EXPECT_EQ(sink.failures, 0);

  script_ = LobScript{};
  script_.open_status = OCI_ERROR;
  EXPECT_EQ(WriteLobValue(&sink, lob, 2, 11, 4, name, sizeof name), -1);
  EXPECT_EQ(sink.failures, 1);
}

}  // namespace
}  // namespace rowflume
