#include "job/command_line.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "common/messages.h"
#include "job/options.h"
#include "scramble/scramble.h"

namespace rowflume {
namespace {

constexpr int kUserLimit = 128;         // characters of a user string
constexpr int kParfileNameLimit = 255;  // characters of a parameter file name
constexpr int kBindNameLimit = 30;
constexpr int kBindValueLimit = 127;
constexpr int kUncrackBlock = 16384;
constexpr int kParfileDepthLimit = 8;      // parameter files nested below the command line's
constexpr size_t kShownKeywordLimit = 40;  // characters of an unknown keyword a notice shows

void SetUserString(UnloadHandle* job, const char* text) {
  std::memset(job->user, 0, sizeof(job->user));
  size_t length = std::strlen(text);
  if (length > kUserLimit) {
    length = kUserLimit;
    // The user string has no keyword of its own: it is refused under the name "user".
    if (job->refusal[0] == '\0') Refuse(job, messages::kOptionTooLong, "user", kUserLimit);
  }
  std::memcpy(job->user, text, length);
}

bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t';
}

// Removes trailing line ends, tabs and spaces; returns the new length. A line that gives a
// decoded text option tabs and spaces only ("field=" and a tab) loses its line end only: the
// tabs and spaces are the value.
size_t TrimLineEnd(std::string* line) {
  size_t length = line->size();
  while (length > 0 && ((*line)[length - 1] == '\r' || (*line)[length - 1] == '\n')) --length;
  line->resize(length);
  const size_t equals = line->find('=');
  if (length > 0 && !IsAsciiSpace((*line)[0]) && IsBlankOrTab((*line)[length - 1]) &&
      equals != std::string::npos &&
      std::all_of(line->begin() + static_cast<std::ptrdiff_t>(equals) + 1, line->end(),
                  IsBlankOrTab) &&
      IsLiteralBlankItem(line->c_str())) {
    return length;
  }
  while (length > 0) {
    char c = (*line)[length - 1];
    if (c != '\r' && c != '\n' && c != '\t' && c != ' ') break;
    --length;
  }
  line->resize(length);
  return length;
}

enum class LineRead { kLine, kEnd, kTooLong, kNulByte };

// Reads one whole line of at most limit characters and its line feed. Reading stops at a
// longer line or a NUL byte, so endless input without line ends (/dev/zero) ends at once.
LineRead ReadLine(FILE* input, std::string* line, size_t limit) {
  line->clear();
  for (;;) {
    int c = std::getc(input);
    if (c == EOF) return line->empty() ? LineRead::kEnd : LineRead::kLine;
    if (c == '\0') return LineRead::kNulByte;
    if (c != '\n' && line->size() == limit) return LineRead::kTooLong;
    line->push_back(static_cast<char>(c));
    if (c == '\n') return LineRead::kLine;
  }
}

// The parameter file a "parfile=NAME" argument names (the keyword in any letter case), or null.
const char* ParfileName(const char* arg) {
  static constexpr char kParfile[] = "parfile=";
  constexpr size_t kParfileLength = sizeof kParfile - 1;
  return std::strlen(arg) >= kParfileLength && EqualIgnoringCase(arg, kParfile, kParfileLength)
             ? arg + kParfileLength
             : nullptr;
}

// "-si": log on with operating-system credentials.
bool IsSilentLogon(const char* arg) {
  return EqualIgnoringCase(arg, "-si");
}

// The keyword of an unknown item as a notice shows it: at most kShownKeywordLimit characters,
// and nothing after a "/", which no keyword holds but a user string given without "user=" does,
// before its password.
std::string ShownKeyword(const char* item) {
  const KeywordValue split = SplitKeywordValue(item);
  std::string keyword(item + split.keyword_start, static_cast<size_t>(split.keyword_length));
  const size_t slash = keyword.find('/');
  const size_t cut = std::min(slash == std::string::npos ? slash : slash + 1, kShownKeywordLimit);
  if (cut < keyword.size()) keyword.replace(cut, std::string::npos, "...");
  return keyword;
}

void Notice(FILE* notices, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Notice(FILE* notices, const char* format, ...) {
  if (notices == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(notices, format, args);
  va_end(args);
}

// The SQL-valued keywords: a continuation line joins their item after a line feed, so that a
// "--" comment ending one line does not take in the next.
bool JoinsWithLineFeed(const std::string& item) {
  const KeywordValue split = SplitKeywordValue(item.c_str());
  const std::string_view keyword(item.c_str() + split.keyword_start,
                                 static_cast<size_t>(split.keyword_length));
  for (std::string_view sql_keyword : {"query", "presql", "postsql", "alter"}) {
    if (EqualIgnoringCase(keyword, sql_keyword)) return true;
  }
  return false;
}

void ReadItemsAt(UnloadHandle* job, FILE* input, const char* name, FILE* notices, int depth);

// Reads the parameter file at depth (0 for the command line's, 1 for one it names, ...).
void ReadFileAt(UnloadHandle* job, const char* name, FILE* notices, int depth) {
  if (std::strlen(name) > static_cast<size_t>(kParfileNameLimit)) {
    Refuse(job, messages::kParfileNameTooLong, kParfileNameLimit);
    return;
  }
  // A file naming itself would otherwise be read without end.
  if (depth > kParfileDepthLimit) {
    Refuse(job, messages::kParfileTooDeep, InputName(name), kParfileDepthLimit);
    return;
  }
  if (name[0] == '-') {
    ReadItemsAt(job, stdin, name, notices, depth);
    return;
  }
  // Read-only: a parameter file holding a password may well be protected against writing.
  FILE* input = std::fopen(name, "rb");
  if (input == nullptr) {
    Refuse(job, messages::kCannotReadFile, "parameter file", name);
    return;
  }
  ReadItemsAt(job, input, name, notices, depth);
  std::fclose(input);
}

// One item of the parameter file name: a further parameter file, or an option.
void ApplyFileItem(UnloadHandle* job, const std::string& item, const char* name, FILE* notices,
                   int depth) {
  if (const char* nested = ParfileName(item.c_str())) {
    ReadFileAt(job, nested, notices, depth + 1);
  } else if (SetOption(job, item.c_str()) == 0) {
    Notice(notices, messages::kUnknownKeywordInFile, ShownKeyword(item.c_str()).c_str(),
           InputName(name));
  }
}

void ReadItemsAt(UnloadHandle* job, FILE* input, const char* name, FILE* notices, int depth) {
  std::string item;
  std::string line;
  bool in_comment = false;  // the item being read is a comment, skipped
  for (;;) {
    LineRead read = ReadLine(input, &line, kParameterItemLimit);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kNulByte) {
      Refuse(job, messages::kNulInFile, "Parameter file", InputName(name));
      return;
    }
    if (read == LineRead::kTooLong) {
      Refuse(job, messages::kItemTooLong, InputName(name), kParameterItemLimit);
      return;
    }
    if (TrimLineEnd(&line) == 0) continue;
    const bool continues = IsAsciiSpace(line[0]);
    if (!continues) {
      if (!item.empty()) ApplyFileItem(job, item, name, notices, depth);
      // A refused job runs nothing: the rest of the file (and of the files naming this one)
      // would change nothing.
      if (job->refusal[0] != '\0') return;
      item.clear();
      in_comment = line[0] == '#';
    }
    if (in_comment) continue;
    const bool line_feed = continues && !item.empty() && JoinsWithLineFeed(item);
    if (item.size() + (line_feed ? 1 : 0) + line.size() > kParameterItemLimit) {
      Refuse(job, messages::kItemTooLong, InputName(name), kParameterItemLimit);
      return;
    }
    if (line_feed) item += '\n';
    item += line;
  }
  if (!item.empty()) ApplyFileItem(job, item, name, notices, depth);
}

}  // namespace

const char* InputName(const char* name) {
  return name[0] == '-' ? "standard input" : name;
}

void Refuse(UnloadHandle* job, const char* format, ...) {
  if (job->refusal[0] != '\0') return;  // the first reason is the one reported
  va_list args;
  va_start(args, format);
  std::vsnprintf(job->refusal, sizeof job->refusal, format, args);
  va_end(args);
}

void ApplyOptionArguments(UnloadHandle* job, int argc, char** argv, FILE* notices) {
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    const char* arg = argv[arg_idx];
    if (const char* name = ParfileName(arg)) {
      ReadFileAt(job, name, notices, 0);
    } else if (IsSilentLogon(arg)) {
      SetUserString(job, "/");
    } else if (SetOption(job, arg) != 0) {
      continue;
    } else if (arg_idx == 1) {
      SetUserString(job, arg);
    } else if (arg[0] != ':' && arg[0] != '\0') {  // binds are the second pass's
      Notice(notices, messages::kUnknownKeyword, ShownKeyword(arg).c_str());
    }
  }
}

char* UserStringArgument(int arg_idx, char* arg) {
  if (ParfileName(arg) != nullptr || IsSilentLogon(arg)) return nullptr;
  if (!IsKnownKeyword(arg)) return arg_idx == 1 ? arg : nullptr;
  KeywordValue split = SplitKeywordValue(arg);
  if (split.keyword_length != 4 || !EqualIgnoringCase(arg + split.keyword_start, "user", 4)) {
    return nullptr;
  }
  return arg + split.value_start;
}

void CollectBindArguments(UnloadHandle* job, int argc, char** argv) {
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    const char* arg = argv[arg_idx];
    if (arg[0] != ':') continue;
    const char* text = arg + 1;
    const char* equals = std::strchr(text, '=');
    size_t name_length = equals != nullptr ? static_cast<size_t>(equals - text) : std::strlen(text);
    if (name_length == 0) continue;
    size_t value_length = equals != nullptr ? std::strlen(equals + 1) : 0;
    // A bind that cannot be given whole would run the query with another value, or unbound.
    if (job->bind_count >= kMaxCommandLineBinds) {
      Refuse(job, messages::kTooManyBinds, kMaxCommandLineBinds);
      return;
    }
    if (name_length > kBindNameLimit) {
      Refuse(job, messages::kBindNameTooLong, kBindNameLimit, text, kBindNameLimit);
      continue;
    }
    BindEntry& entry = job->binds[job->bind_count];
    std::memset(&entry, 0, sizeof(entry));
    std::memcpy(entry.name, text, name_length);
    entry.name_length = static_cast<int32_t>(name_length);
    if (value_length > kBindValueLimit) {
      Refuse(job, messages::kBindValueTooLong, entry.name, kBindValueLimit);
      value_length = kBindValueLimit;
    }
    if (equals != nullptr) std::memcpy(entry.value, equals + 1, value_length);
    entry.value_length = static_cast<int32_t>(value_length);
    ++job->bind_count;
  }
}

void ReadParameterFile(UnloadHandle* job, const char* name, FILE* notices) {
  ReadFileAt(job, name, notices, 0);
}

void ReadParameterItems(UnloadHandle* job, FILE* input, const char* name, FILE* notices) {
  ReadItemsAt(job, input, name, notices, 0);
}

void AppendSqlFile(UnloadHandle* job) {
  if (job->sql[0] == '\0') return;
  if (std::strcmp(job->sql, "-") == 0) {
    AppendSqlLines(job, stdin, true);
    return;
  }
  // Bytes as they are, as for parameter files: a text-mode read would end at a Ctrl-Z on Windows.
  FILE* input = std::fopen(job->sql, "rb");
  if (input == nullptr) {
    Refuse(job, messages::kCannotReadFile, "SQL file", job->sql);
    return;
  }
  AppendSqlLines(job, input, false);
  std::fclose(input);
}

void AppendSqlLines(UnloadHandle* job, FILE* input, bool stop_at_slash) {
  static_assert(kQueryLimit < sizeof(UnloadHandle::query), "query limit must leave the NUL");
  const char* name = stop_at_slash ? "standard input" : job->sql;
  size_t query_length = std::strlen(job->query);
  std::string line;
  for (;;) {
    LineRead read = ReadLine(input, &line, kQueryLimit);
    if (read == LineRead::kEnd) break;
    if (read == LineRead::kNulByte) {
      Refuse(job, messages::kNulInFile, "SQL file", name);
      return;
    }
    if (stop_at_slash && read == LineRead::kLine && line[0] == '/') break;
    if (read == LineRead::kTooLong || query_length + line.size() + 1 > kQueryLimit) {
      Refuse(job, messages::kQueryTooLong, name, kQueryLimit);
      return;
    }
    std::memcpy(job->query + query_length, line.data(), line.size());
    query_length += line.size();
    job->query[query_length++] = ' ';
    job->query[query_length] = '\0';
  }
}

void WriteUsage(FILE* out, const char* const banner_lines[3], bool help) {
  static constexpr const char* kFirstList[] = {
      "   user    = username/password@tnsname",
      "   sql     = SQL file name",
      "   query   = select statement",
      "   field   = separator string between fields",
      "   record  = separator string between records",
      "   rows    = print progress for every given rows (default, 1000000) ",
      "   file    = output file name(default: tarndata.txt)",
      "   log     = log file name, prefix with + to append mode",
      "   fast    = auto tuning the session level parameters(YES)",
      "   text    = output type (MYSQL, CSV, MYSQLINS, ORACLEINS, FORM, SEARCH).",
      "   charset = character set name of the target database.",
      "   ncharset= national character set name of the target database.",
      "   parfile = read command option from parameter file ",
  };
  static constexpr const char* kSecondList[] = {
      "   read    = set DB_FILE_MULTIBLOCK_READ_COUNT at session level",
      "   sort    = set SORT_AREA_SIZE at session level (UNIT:MB) ",
      "   hash    = set HASH_AREA_SIZE at session level (UNIT:MB) ",
      "   array   = array fetch size",
      "   head    = print row header(Yes|No)",
      "   batch   = save to new file for every rows batch (Yes/No)",
      "   size    = maximum output file piece size (UNIB:MB)",
      "   serial  = set _serial_direct_read to TRUE at session level",
      "   trace   = set event 10046 to given level at session level",
      "   table   = table name in the sqlldr control file",
      "   control = sqlldr control file and path.",
      "   mode    = sqlldr option, INSERT or APPEND or REPLACE or TRUNCATE ",
      "   buffer  = sqlldr READSIZE and BINDSIZE, default 16 (MB)",
      "   long    = maximum long field size",
      "   width   = customized max column width (w1:w2:...) ",
      "   quote   = optional quote string ",
      "   data    = disable real data unload (NO, OFF) ",
      "   alter   = alter session SQLs to be execute before unload ",
      "   safe    = use large buffer to avoid ORA-24345 error (Yes|No) ",
      "   crypt   = encrypted user information only (Yes|No) ",
      "   sedf/t  = enable character translation function ",
      "   null    = replace null with given value ",
      "   escape  = escape character for special characters",
      "   escf/t  = escape from/to characters list ",
      "   format  = MYSQL: MySQL Insert SQLs, SQL: Insert SQLs.",
      "   exec    = the command to execute the SQLs.",
      "   prehead = column name prefix for head line.",
      "   rowpre  = row prefix string for each line.",
      "   rowsuf  = row sufix string for each line.",
      "   colsep  = separator string between column name and value.",
      "   presql  = SQL or scripts to be executed before data unload.",
      "   postsql = SQL or scripts to be executed after data unload.",
      "   lob     = extract lob values to single file (FILE).",
      "   lobdir  = subdirectory count to store lob files .",
      "   split   = table name for automatically parallelization.",
      "   degree  = parallelize data copy degree (2-128).",
      "   scn     = read as of this SCN, or CURRENT: one point in time for every piece.",
      "   plan    = split plan file: written by split+degree, read with pieces.",
      "   pieces  = pieces of the plan to unload here, e.g. 1,4-6.",
      "   manifest= JSON manifest of every output with rows, bytes and SHA-256.",
      "   verify  = check the files of a manifest (with user=, count its rows).",
      "   resume  = skip the pieces the manifest holds complete (YES/NO).",
      "   text=PARQUET, or a file name ending in .parquet: typed Parquet files.",
      "   rowgroup= Parquet row group held in memory at most (UNIT:MB, default 64).",
      "   compress= Parquet compression: ZSTD (default), SNAPPY or NONE.",
      "   number  = Parquet NUMBER without precision and FLOAT: TEXT (default) or DOUBLE.",
      "   hint    = MySQL SQL hint for the Insert, for example IGNORE.",
      "   unique  = Unique Column List for the MySQL target table.",
      "   update  = Enable MySQL ON DUPLICATE SQL statement(YES/NO).",
      "   crack   = The crack key for the content protection.",
      "   uncrack = The uncrack key for the content protection.",
  };
  std::fprintf(out, "\n%s\n%s\n\n%s\n\n", banner_lines[0], banner_lines[1], banner_lines[2]);
  std::fputs("Usage: ROWFLUME keyword=value [,keyword=value,...]\n\nValid Keywords:\n", out);
  for (const char* line : kFirstList) std::fprintf(out, "%s\n", line);
  if (help) {
    for (const char* line : kSecondList) std::fprintf(out, "%s\n", line);
  }
  std::fputs("\n  for field and record, you can use '0x' to specify hex character code,\n", out);
  // The backslashes are part of the text: the line shows the codes of these escape sequences.
  std::fprintf(out,
               "  \\r=0x%02x \\n=0x%02x |=0x%0x ,=0x%02x, \\t=0x%02x, :=0x%02x, #=0x%02x, "
               "\"=0x%02x '=0x%02x \n",
               13, 10, 124, 44, 9, 58, 35, 34, 39);
  std::fputs("\n", out);
}

int UncrackFile(const char* name, const char* key, FILE* out) {
  bool from_stdin = name[0] == '-';
  FILE* input = from_stdin ? stdin : std::fopen(name, "rb");
  if (input == nullptr) return kUncrackUnreadable;
  // The tail left over from one block (at most one chunk) goes in front of the next block.
  auto buffer = std::make_unique<char[]>(kContentScrambleChunk + kUncrackBlock);
  size_t carried = 0;
  bool write_failed = false;
  for (;;) {
    size_t got = std::fread(buffer.get() + carried, 1, kUncrackBlock, input);
    int total = static_cast<int>(carried + got);
    int processed = ContentScramble(buffer.get(), total, key);
    if (std::fwrite(buffer.get(), 1, static_cast<size_t>(processed), out) !=
        static_cast<size_t>(processed)) {
      write_failed = true;
    }
    if (std::fflush(out) != 0) write_failed = true;
    carried = static_cast<size_t>(total - processed);
    std::memmove(buffer.get(), buffer.get() + processed, carried);
    if (got < static_cast<size_t>(kUncrackBlock) || write_failed) break;
  }
  if (!write_failed && std::fwrite(buffer.get(), 1, carried, out) != carried) write_failed = true;
  if (std::fflush(out) != 0) write_failed = true;
  // A read that failed (a directory, an I/O error) ends the input early: not a whole file.
  const bool read_failed = std::ferror(input) != 0;
  if (!from_stdin) std::fclose(input);
  if (read_failed) return kUncrackUnreadable;
  return write_failed ? kUncrackUnwritable : 0;
}

}  // namespace rowflume
