// Entry point of the command-line program.
#include "main/driver.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  rowflume::UseBinaryStandardStreams();
  return rowflume::RunCommandLine(argc, argv);
}
