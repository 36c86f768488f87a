/* Whether this machine runs 32-bit Windows programs: under a working 32-bit Wine this prints the
   pointer size, 4, and ends with status 32, which a loader that failed cannot fake. */
#include <stdio.h>

int main(void) {
  printf("%u\n", (unsigned)sizeof(void*));
  return 32;
}
