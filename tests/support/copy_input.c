/* Copies standard input to the file named by its one argument, byte for byte: what cat does for
   the tests' output commands on POSIX, where Windows' command processor has no command of its
   own that leaves the bytes alone. "NUL" discards the input after reading all of it. */
#include <stdio.h>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
  if (argc != 2) return 2;
#if defined(_WIN32)
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  FILE* out = fopen(argv[1], "wb");
  if (out == NULL) return 1;
  char block[65536];
  size_t got;
  int failed = 0;
  while (!failed && (got = fread(block, 1, sizeof block, stdin)) > 0) {
    failed = fwrite(block, 1, got, out) != got;
  }
  failed |= ferror(stdin) != 0;
  failed |= fclose(out) != 0;
  return failed ? 1 : 0;
}
