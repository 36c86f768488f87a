// Entry point of the command-line program.
#include "main/driver.h"

int main(int argc, char** argv) {
  return rowflume::RunCommandLine(argc, argv);
}
