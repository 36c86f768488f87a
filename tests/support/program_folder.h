// A test that runs the built program in a private folder of its own, on a source database
// there: the folder is made before each test and removed after it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/sqlite_file.h"

namespace rowflume::testing_support {

class ProgramFolderTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The program run in the folder, logged on to the source database.
  ProgramRun Unload(std::vector<std::string> args);
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::unique_ptr<SqliteFile> db_;  // source.db in the folder
};

}  // namespace rowflume::testing_support
