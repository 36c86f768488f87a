// Changing the test process's environment, which the engine and the program read through the
// platform module; the C library's calls for it differ between POSIX and Windows.
#pragma once

namespace rowflume::testing_support {

// Sets the variable for this process and the commands it starts.
void SetEnvironment(const char* name, const char* value);
// Removes the variable; nothing happens when it is not set.
void UnsetEnvironment(const char* name);

}  // namespace rowflume::testing_support
