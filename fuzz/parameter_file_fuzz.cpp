// The parameter file reader and the SQL file step on arbitrary file contents, read through a
// memory stream. Items are compared with an independent assembly of the lines (each item then
// applied with SetOption on a second record: both records must be byte for byte the same), and
// the query with an independent appending of the lines; what cannot be taken whole refuses the
// job.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/job_checks.h"
#include "job/command_line.h"
#include "job/job_record.h"
#include "job/options.h"

namespace rowflume::fuzz {
namespace {

// The lines of the content, each with its line feed when it has one.
std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  for (size_t pos = 0; pos < content.size();) {
    size_t end = content.find('\n', pos);
    end = end == std::string::npos ? content.size() : end + 1;
    lines.push_back(content.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

// A line that cannot be taken whole: a NUL byte, or more than limit characters before its end.
bool Unreadable(const std::string& line, size_t limit) {
  size_t body = line.size() - (line.back() == '\n' ? 1 : 0);
  return body > limit || line.find('\0') != std::string::npos;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A line (its line end gone) giving a decoded text option tabs and spaces only, which stay.
bool KeepsBlanks(const std::string& line) {
  const size_t equals = line.find('=');
  if (line.empty() || IsSpace(line[0]) || equals == std::string::npos ||
      equals + 1 == line.size()) {
    return false;
  }
  for (size_t pos = equals + 1; pos < line.size(); ++pos) {
    if (line[pos] != ' ' && line[pos] != '\t') return false;
  }
  return IsLiteralBlankItem(line.c_str());
}

// An item of a SQL-valued keyword, whose continuation lines join after a line feed.
bool IsSqlItem(const std::string& item) {
  size_t start = 0;
  while (start < item.size() && IsSpace(item[start])) ++start;
  size_t end = item.find('=', start);
  if (end == std::string::npos) end = item.size();
  while (end > start && IsSpace(item[end - 1])) --end;
  std::string keyword = item.substr(start, end - start);
  for (char& c : keyword) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return keyword == "query" || keyword == "presql" || keyword == "postsql" || keyword == "alter";
}

// Lines naming a further parameter file are left out of the content: it would be read from
// the file system (a name beginning with "-" from standard input).
std::string WithoutParfileLines(const std::string& content) {
  std::string kept;
  for (const std::string& line : Lines(content)) {
    std::string head = line.substr(0, 8);
    for (char& c : head) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (head != "parfile=") kept += line;
  }
  return kept;
}

// The items the reader applies, up to a refusal (*refused), which ends the reading and drops
// the item it was in.
std::vector<std::string> ParameterItems(const std::string& content, bool* refused) {
  const size_t limit = static_cast<size_t>(kParameterItemLimit);
  std::vector<std::string> items;
  std::string item;
  bool in_comment = false;
  *refused = false;
  for (std::string line : Lines(content)) {
    if (Unreadable(line, limit)) {
      *refused = true;
      return items;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!KeepsBlanks(line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == '\t' ||
                               line.back() == ' ')) {
        line.pop_back();
      }
    }
    if (line.empty()) continue;
    bool continues = IsSpace(line[0]);
    if (!continues) {
      if (!item.empty()) items.push_back(item);
      item.clear();
      in_comment = line[0] == '#';
    }
    if (in_comment) continue;
    const bool line_feed = continues && !item.empty() && IsSqlItem(item);
    if (item.size() + (line_feed ? 1 : 0) + line.size() > limit) {
      *refused = true;
      return items;
    }
    if (line_feed) item += '\n';
    item += line;
  }
  if (!item.empty()) items.push_back(item);
  return items;
}

FILE* OpenMemory(std::string& content) {
  // fmemopen refuses an empty buffer on some C libraries; an empty file is a stream at its end.
  if (content.empty()) return std::fopen("/dev/null", "rb");
  return fmemopen(content.data(), content.size(), "rb");
}

void CheckParameterFile(std::string content) {
  auto job = std::make_unique<UnloadHandle>();
  auto expected = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  InitJobDefaults(expected.get());
  content = WithoutParfileLines(content);
  FILE* input = OpenMemory(content);
  FUZZ_CHECK(input != nullptr);
  ReadParameterItems(job.get(), input, "fuzz.par", nullptr);
  std::fclose(input);
  bool refused = false;
  for (const std::string& item : ParameterItems(content, &refused)) {
    SetOption(expected.get(), item.c_str());
  }
  CheckJobRecord(*job);
  FUZZ_CHECK((job->refusal[0] != '\0') == refused);
  std::memcpy(expected->refusal, job->refusal, sizeof job->refusal);
  FUZZ_CHECK(std::memcmp(job.get(), expected.get(), sizeof(UnloadHandle)) == 0);
}

void CheckSqlFile(const std::string& query, std::string content, bool stop_at_slash) {
  auto job = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  std::string expected = query.substr(0, std::strlen(query.c_str()));
  std::memcpy(job->query, expected.data(), expected.size());
  const size_t limit = static_cast<size_t>(kQueryLimit);
  bool refused = false;
  for (const std::string& line : Lines(content)) {
    refused = Unreadable(line, limit);
    if (refused || (stop_at_slash && line[0] == '/')) break;
    refused = expected.size() + line.size() + 1 > limit;
    if (refused) break;
    expected += line;
    expected += ' ';
  }

  FILE* input = OpenMemory(content);
  FUZZ_CHECK(input != nullptr);
  AppendSqlLines(job.get(), input, stop_at_slash);
  std::fclose(input);
  CheckJobRecord(*job);
  FUZZ_CHECK((job->refusal[0] != '\0') == refused);
  FUZZ_CHECK(std::strlen(job->query) == expected.size());
  FUZZ_CHECK(std::memcmp(job->query, expected.data(), expected.size()) == 0);
  // Nothing past the text: the rest of the field is still clear.
  for (size_t pos = expected.size(); pos < sizeof(job->query); ++pos) {
    FUZZ_CHECK(job->query[pos] == '\0');
  }
}

}  // namespace
}  // namespace rowflume::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rowflume::fuzz;
  Input input(data, size);
  int mode = input.Byte() % 3;
  if (mode == 0) {
    CheckParameterFile(input.Rest());
    return 0;
  }
  // A query already present, up to the field's own limit, so that the cut is reached.
  size_t query_length = static_cast<size_t>(input.Int(0, rowflume::kQueryLimit));
  std::string query(query_length, 'q');
  std::string head = input.Bytes(static_cast<size_t>(input.Byte()));
  query.replace(0, head.size() < query.size() ? head.size() : query.size(), head);
  if (query.size() > static_cast<size_t>(rowflume::kQueryLimit))
    query.resize(rowflume::kQueryLimit);
  CheckSqlFile(query, input.Rest(), mode == 2);
  return 0;
}
