// Entry point of the command-line program.
#include <cstdio>

int main() {
  std::puts("rowflume: not built yet");
  return 1;
}
