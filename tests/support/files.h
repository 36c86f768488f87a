// Files, folders, and the texts and bytes that tests compare.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rowflume::testing_support {

// The whole file as bytes; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content.
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// A path in the process's private temporary folder (support/private_temp_dir.cpp).
std::string TempPath(const std::string& name);
// A new empty folder below the temporary folder; "" when none could be made.
std::string MakeTempDir();
// The names in dir that start with prefix, sorted.
std::vector<std::string> FilesStartingWith(const std::string& dir, const std::string& prefix);

// The lines of a text without their line feeds; a last line without one counts too.
std::vector<std::string> Lines(const std::string& text);
// How often `what` occurs in text, overlapping occurrences included.
size_t Count(const std::string& text, const std::string& what);

// Bytes that cover every value 0 to 255, in an order that shows misplaced pieces.
std::string PatternBytes(size_t size, unsigned seed = 0);
// Upper-case hexadecimal digits of the bytes, as an SQL blob literal takes them.
std::string Hex(const std::string& bytes);

}  // namespace rowflume::testing_support
