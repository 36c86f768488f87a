// The parameter file reader and the SQL file step on arbitrary file contents, read through a
// memory stream. Items are compared with an independent assembly of the lines (each item then
// applied with SetOption on a second record: both records must be byte for byte the same), and
// the query with an independent appending of the line pieces, cut at its limit.
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

// The pieces fgets makes of the content with a buffer of piece_chars + 1: each ends after a line
// feed, at piece_chars characters, or at the end; only the text before a NUL byte is seen.
std::vector<std::string> Pieces(const std::string& content, size_t piece_chars) {
  std::vector<std::string> pieces;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = pos;
    while (end < content.size() && end - pos < piece_chars) {
      if (content[end++] == '\n') break;
    }
    std::string piece = content.substr(pos, end - pos);
    pieces.push_back(piece.substr(0, std::strlen(piece.c_str())));
    pos = end;
  }
  return pieces;
}

std::vector<std::string> ParameterItems(const std::string& content) {
  std::vector<std::string> items;
  std::string item;
  for (std::string piece : Pieces(content, 510)) {
    while (!piece.empty() && (piece.back() == '\r' || piece.back() == '\n' ||
                              piece.back() == '\t' || piece.back() == ' ')) {
      piece.pop_back();
    }
    if (piece.empty()) continue;
    char first = piece[0];
    bool continues = first == ' ' || first == '\t' || first == '\n' || first == '\v' ||
                     first == '\f' || first == '\r';
    if (!continues) {
      if (!item.empty()) items.push_back(item);
      item.clear();
    }
    item += piece;
    if (item.size() > static_cast<size_t>(kParameterItemLimit)) item.resize(kParameterItemLimit);
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
  FILE* input = OpenMemory(content);
  FUZZ_CHECK(input != nullptr);
  ReadParameterItems(job.get(), input);
  std::fclose(input);
  for (const std::string& item : ParameterItems(content)) SetOption(expected.get(), item.c_str());
  CheckJobRecord(*job);
  FUZZ_CHECK(std::memcmp(job.get(), expected.get(), sizeof(UnloadHandle)) == 0);
}

void CheckSqlFile(const std::string& query, std::string content, bool stop_at_slash) {
  auto job = std::make_unique<UnloadHandle>();
  InitJobDefaults(job.get());
  std::string expected = query.substr(0, std::strlen(query.c_str()));
  std::memcpy(job->query, expected.data(), expected.size());
  for (const std::string& piece : Pieces(content, 1022)) {
    if (stop_at_slash && !piece.empty() && piece[0] == '/') break;
    expected += piece;
    expected += ' ';
  }
  if (expected.size() > static_cast<size_t>(kQueryLimit)) expected.resize(kQueryLimit);

  FILE* input = OpenMemory(content);
  FUZZ_CHECK(input != nullptr);
  AppendSqlLines(job.get(), input, stop_at_slash);
  std::fclose(input);
  CheckJobRecord(*job);
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
