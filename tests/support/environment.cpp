#include "support/environment.h"

#include <stdlib.h>

namespace rowflume::testing_support {

#if defined(_WIN32)

// _putenv_s changes the C library's copy and the process's own block, which commands inherit;
// an empty value is its way of removing a variable, so Windows cannot hold an empty one.
void SetEnvironment(const char* name, const char* value) {
  _putenv_s(name, value);
}

void UnsetEnvironment(const char* name) {
  _putenv_s(name, "");
}

#else

void SetEnvironment(const char* name, const char* value) {
  setenv(name, value, 1);
}

void UnsetEnvironment(const char* name) {
  unsetenv(name);
}

#endif

}  // namespace rowflume::testing_support
