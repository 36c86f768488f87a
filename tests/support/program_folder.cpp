#include "support/program_folder.h"

#include <filesystem>

#include "support/files.h"

namespace rowflume::testing_support {

void ProgramFolderTest::SetUp() {
  dir_ = MakeTempDir();
  ASSERT_FALSE(dir_.empty());
  db_ = std::make_unique<SqliteFile>(Path("source.db"));
}

void ProgramFolderTest::TearDown() {
  db_.reset();  // Windows removes no file that is still open
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

ProgramRun ProgramFolderTest::Unload(std::vector<std::string> args) {
  args.insert(args.begin(), db_->user());
  return RunProgram(dir_, args);
}

}  // namespace rowflume::testing_support
