#include "run/job_checks.h"

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "common/messages.h"
#include "job/options.h"
#include "output/control_file.h"
#include "output/insert_text.h"
#include "output/name_pattern.h"
#include "output/parquet_rows.h"
#include "parallel/split_plan.h"
#include "run/point_in_time.h"

namespace rowflume {
namespace {

constexpr int32_t kUnsplitSize = 0x0FFFFFFF;  // `size` that never switches files

int Refused(DbSession* session, const char* text) {
  SessionMessage(session, text);
  return kRunRefused;
}

bool IsCommand(const char* pattern) {
  return pattern[0] == '-' && pattern[1] != '\0';
}

// The file an output name writes; null for standard output and commands, which replace no file.
const char* OutputFile(const char* expanded) {
  return expanded[0] == '-' ? nullptr : WrittenFile(expanded);
}

// Names that differ only in their spelling ("./t.txt", "a/../t.txt") name one file, as do two
// names of one existing file.
bool SameFile(const char* one, const char* other) {
  if (one == nullptr || other == nullptr || one[0] == '\0' || other[0] == '\0') return false;
  return std::filesystem::path(one).lexically_normal() ==
             std::filesystem::path(other).lexically_normal() ||
         SameExistingFile(one, other);
}

// Output, log and control file must be three files: each would otherwise empty or interleave
// another.
int CheckDistinctOutputs(const UnloadHandle* job, DbSession* session) {
  char file[kExpandedNameBytes] = "-";
  char log[kExpandedNameBytes] = "-";
  char control[kExpandedNameBytes] = "-";
  if (std::strcmp(job->file, "-") != 0) ExpandOutputName(job->file, file, 1, job->piece);
  if (job->log[0] != '\0') ExpandOutputName(job->log, log, 0, job->piece);
  const bool writes_control = (job->table[0] != '\0' || job->control[0] != '\0') &&
                              job->format == kTextFormat && job->piece == 1;
  if (writes_control) ControlFileName(job, control, sizeof control);
  struct Pair {
    const char* first_option;
    const char* first;
    const char* second_option;
    const char* second;
  };
  // The manifest and its checksum list are rewritten while the run goes on.
  const std::string manifest = job->manifest;
  const std::string sums = manifest.empty() ? "" : manifest + ".sha256";
  const Pair pairs[] = {{"log", log, "file", file},
                        {"control", control, "file", file},
                        {"control", control, "log", log},
                        {"manifest", manifest.c_str(), "file", file},
                        {"manifest", manifest.c_str(), "log", log},
                        {"manifest", manifest.c_str(), "control", control},
                        {"manifest", manifest.c_str(), "plan", job->plan},
                        {"manifest", sums.c_str(), "file", file},
                        {"manifest", sums.c_str(), "log", log}};
  for (const Pair& pair : pairs) {
    const char* one = OutputFile(pair.first);
    if (SameFile(one, OutputFile(pair.second))) {
      SessionMessageFormat(session, messages::kSameOutput, pair.first_option, pair.second_option,
                           one);
      return kRunRefused;
    }
  }
  return 0;
}

// sedf and sedt pair their characters position by position: lists of different lengths leave
// characters without a partner, and an INSERT statement needs the table it inserts into. A bare
// table name fills `table` when the query text is prepared, and the pieces of a parallel unload
// take the split table's name, so only a statement of the user's own needs table=.
int CheckLayoutTexts(const UnloadHandle* job, DbSession* session) {
  const size_t from_length = strnlen(job->sedf, sizeof job->sedf);
  const size_t to_length = strnlen(job->sedt, sizeof job->sedt);
  if (from_length != to_length) {
    SessionMessageFormat(session, messages::kTranslationLengths, static_cast<int>(from_length),
                         static_cast<int>(to_length));
    return kRunRefused;
  }
  // Without a record separator (or a row suffix) every row of a delimited layout runs into the
  // next, and no reader can take them apart; fixed-width records have their length instead.
  const bool fixed_width = job->field_length > 0 && job->field[0] == ' ';
  if (job->format == kTextFormat && !fixed_width && job->record_length == 0 &&
      job->rowsuf_length == 0) {
    return Refused(session, messages::kEmptyRecord);
  }
  const bool inserts = job->format == kMySqlFormat || job->format == kOracleFormat;
  if (inserts && job->table[0] == '\0' && !IsParallelJob(job) && IsQueryStatement(job->query)) {
    return Refused(session, messages::kInsertNeedsTable);
  }
  return 0;
}

}  // namespace

int CheckFieldSeparator(const UnloadHandle* job, int column_count, DbSession* session) {
  if (job->format != kTextFormat || job->field_length > 0 || column_count < 2) return 0;
  SessionMessageFormat(session, messages::kEmptyField, column_count);
  return kRunRefused;
}

int CheckInsertNames(const UnloadHandle* job, const ColumnDesc* head, DbSession* session) {
  if (job->format != kOracleFormat) return 0;
  const ColumnDesc* column = UnwritableOracleName(head);
  if (column == nullptr) return 0;
  SessionMessageFormat(session, messages::kUnwritableOracleName, column->name);
  return kRunRefused;
}

bool IsParallelJob(const UnloadHandle* job) {
  return (job->degree > 1 && job->split[0] != '\0') || job->plan[0] != '\0' ||
         job->pieces[0] != '\0';
}

bool SplitsOutput(const UnloadHandle* job) {
  return job->batch != 0 || job->size < kUnsplitSize;
}

bool IsQueryStatement(const char* query) {
  while (IsAsciiSpace(*query)) ++query;
  for (std::string_view word : {std::string_view("with"), std::string_view("select")}) {
    if (StartsWithIgnoringCase(query, word) && !IsNameChar(query[word.size()])) return true;
  }
  return false;
}

const char* AlterClauseEnd(const char* clause) {
  char quote = '\0';  // the quote character of the literal or name the scan is inside
  const char* at = clause;
  for (; *at != '\0'; ++at) {
    if (quote != '\0') {
      // A doubled quote inside a literal closes it and opens it again: the same result.
      if (*at == quote) quote = '\0';
    } else if (*at == '\'' || *at == '"') {
      quote = *at;
    } else if (*at == ';') {
      break;
    }
  }
  return at;
}

bool HasPlaceholder(const char* text, const char* name) {
  const size_t length = std::strlen(name);
  for (const char* colon = std::strchr(text, ':'); colon != nullptr;
       colon = std::strchr(colon + 1, ':')) {
    if (EqualIgnoringCase(colon + 1, name, length) && !IsNameChar(colon[1 + length])) return true;
  }
  return false;
}

int CheckValuesTaken(const UnloadHandle* job, DbSession* session) {
  if (job->refusal[0] != '\0') return Refused(session, job->refusal);
  int limit = 0;
  if (const char* option = FirstCutOption(job, &limit)) {
    SessionMessageFormat(session, messages::kOptionTooLong, option, limit);
    return kRunRefused;
  }
  return 0;
}

namespace {

// resume=yes resumes the pieces of a plan from a manifest, and the pieces it runs again must not
// write their rows twice into an appended file or a command.
int CheckResume(const UnloadHandle* job, DbSession* session) {
  if (job->resume == 0) return 0;
  const char* missing = job->plan[0] == '\0'       ? "plan"
                        : job->pieces[0] == '\0'   ? "pieces"
                        : job->manifest[0] == '\0' ? "manifest"
                                                   : nullptr;
  if (missing != nullptr) {
    SessionMessageFormat(session, messages::kResumeNeeds, missing);
    return kRunRefused;
  }
  if (job->file[0] == '+' || job->file[0] == '-') {
    SessionMessage(session, messages::kResumeOfAppend);
    return kRunRefused;
  }
  return 0;
}

bool IsUtf8Name(const char* charset) {
  return EqualIgnoringCase(charset, "AL32UTF8") || EqualIgnoringCase(charset, "UTF8");
}

// A Parquet file is written whole, footer last, in UTF-8; its options mean nothing to text.
int CheckParquet(const UnloadHandle* job, DbSession* session) {
  if (job->format != kParquetFormat) {
    for (const char* option : {"compress", "number"}) {
      const char* value = std::strcmp(option, "compress") == 0 ? job->compress : job->number;
      if (value[0] == '\0') continue;
      SessionMessageFormat(session, messages::kParquetOnly, option);
      return kRunRefused;
    }
    return 0;
  }
  if (job->file[0] == '-' || job->file[0] == '+') {
    return Refused(session, messages::kParquetOutput);
  }
  if (job->control[0] != '\0') return Refused(session, messages::kParquetControl);
  for (const char* option : {"charset", "ncharset"}) {
    const char* value = std::strcmp(option, "charset") == 0 ? job->charset : job->ncharset;
    if (value[0] == '\0' || IsUtf8Name(value)) continue;
    SessionMessageFormat(session, messages::kParquetCharset, option, value);
    return kRunRefused;
  }
  ParquetCodec codec = ParquetCodec::kNone;
  if (!ParseParquetCodec(job->compress, &codec)) {
    SessionMessageFormat(session, messages::kParquetCodec, job->compress);
    return kRunRefused;
  }
  if (!ParquetCodecAvailable(codec)) {
    SessionMessageFormat(session, messages::kParquetCodecMissing, job->compress);
    return kRunRefused;
  }
  constexpr char kZoneName[] = "TIME_ZONE";
  for (const char* at = job->alter; *at != '\0'; ++at) {
    if (EqualIgnoringCase(at, kZoneName, sizeof kZoneName - 1)) {
      return Refused(session, messages::kParquetTimeZone);
    }
  }
  if (job->number[0] != '\0' && !EqualIgnoringCase(job->number, "TEXT") &&
      !EqualIgnoringCase(job->number, "DOUBLE")) {
    SessionMessageFormat(session, messages::kParquetNumber, job->number);
    return kRunRefused;
  }
  return 0;
}

}  // namespace

int CheckJob(const UnloadHandle* job, DbSession* session) {
  if (CheckValuesTaken(job, session) != 0) return kRunRefused;
  for (const char* piece = job->alter; *piece != '\0';) {
    const char* end = AlterClauseEnd(piece);
    if (end - piece > kMaxAlterClause) {
      SessionMessageFormat(session, messages::kAlterTooLong, kMaxAlterClause);
      return kRunRefused;
    }
    if (*end == '\0') break;
    piece = end + 1;
  }
  if (CheckLayoutTexts(job, session) != 0 || CheckResume(job, session) != 0 ||
      CheckParquet(job, session) != 0) {
    return kRunRefused;
  }
  // Given a UTF-16 set the client would read every text it is passed (statements, names,
  // credentials) as UTF-16, and this program writes them in bytes.
  for (const char* wide : {"UTF16", "AL16UTF16", "AL16UTF16LE"}) {
    if (EqualIgnoringCase(job->charset, wide)) {
      SessionMessageFormat(session, messages::kWideCharset, job->charset);
      return kRunRefused;
    }
  }
  if (!IsValidScn(job->scn)) {
    SessionMessageFormat(session, messages::kScnRefused, job->scn);
    return kRunRefused;
  }
  if (std::strcmp(job->log, "-") == 0) return Refused(session, messages::kEmptyLogCommand);
  if (job->file[0] == '+' && job->crack[0] != '\0') {
    return Refused(session, messages::kCrackAppend);
  }
  // Every new file of a split output starts the command again, which would replace (or, fed to
  // the same file, interleave) what the one before received.
  const bool split_output = SplitsOutput(job);
  if (split_output && IsCommand(job->file) && !HasPatternField(job->file, 'b')) {
    SessionMessageFormat(session, messages::kCommandRestarted, job->file + 1);
    return kRunRefused;
  }
  // Each file of a split output starts with its own header; appended to one file, they would
  // stand between the rows.
  if (split_output && job->file[0] == '+' && !HasPatternField(job->file, 'b')) {
    SessionMessageFormat(session, messages::kAppendSplit, job->file + 1);
    return kRunRefused;
  }
  return CheckDistinctOutputs(job, session);
}

int CheckParallelJob(const UnloadHandle* job, DbSession* session) {
  if (job->pieces[0] != '\0') {
    bool selected[kMaxRowidRanges + 1];
    if (job->plan[0] == '\0') {
      SessionMessageFormat(session, messages::kPiecesNeedPlan, job->pieces);
      return kRunRefused;
    }
    if (!ParsePieceList(job->pieces, selected)) {
      SessionMessageFormat(session, messages::kPiecesRefused, job->pieces);
      return kRunRefused;
    }
  } else if (job->plan[0] != '\0' && (job->split[0] == '\0' || job->degree < 2)) {
    SessionMessageFormat(session, messages::kPlanNeedsSplit, job->plan);
    return kRunRefused;
  }
  if (std::strcmp(job->file, "-") == 0) {
    SessionMessageFormat(session, messages::kParallelToStdout, job->degree);
    return kRunRefused;
  }
  if (IsCommand(job->file) && !HasPatternField(job->file, 'p')) {
    SessionMessageFormat(session, messages::kParallelCommand, job->file + 1);
    return kRunRefused;
  }
  if (HasAmbiguousNumbers(job->file, true, SplitsOutput(job))) {
    SessionMessageFormat(session, messages::kAmbiguousNames, job->file);
    return kRunRefused;
  }
  // Without both placeholders every piece would read the whole table.
  if (job->query[0] != '\0' &&
      (!HasPlaceholder(job->query, "MINRID") || !HasPlaceholder(job->query, "MAXRID"))) {
    return Refused(session, messages::kNoRangePlaceholder);
  }
  return 0;
}

}  // namespace rowflume
