#include "job/command_line.h"

#include <cstring>
#include <memory>

#include "common/ascii.h"
#include "job/options.h"
#include "scramble/scramble.h"

namespace rowflume {
namespace {

constexpr int kUserLimit = 128;            // characters of a user string
constexpr int kParfileNameLimit = 255;     // characters of a parameter file name
constexpr int kParameterPieceChars = 510;  // a parameter file line is read in pieces of this
constexpr int kSqlPieceChars = 1022;       // a SQL file line is read in pieces of this
constexpr int kBindTextLimit = 256;        // characters after the colon that are looked at
constexpr int kBindNameLimit = 30;
constexpr int kBindValueLimit = 127;
constexpr int kUncrackBlock = 16384;

void SetUserString(UnloadHandle* job, const char* text) {
  std::memset(job->user, 0, sizeof(job->user));
  size_t length = std::strlen(text);
  if (length > kUserLimit) length = kUserLimit;
  std::memcpy(job->user, text, length);
}

// Removes trailing line ends, tabs and spaces; returns the new length.
size_t TrimLineEnd(char* line) {
  size_t length = std::strlen(line);
  while (length > 0) {
    char c = line[length - 1];
    if (c != '\r' && c != '\n' && c != '\t' && c != ' ') break;
    line[--length] = '\0';
  }
  return length;
}

// Appends up to the room left below limit characters; returns the new length.
size_t AppendCut(char* text, size_t length, size_t limit, const char* more, size_t more_length) {
  size_t room = limit - length;
  if (more_length > room) more_length = room;
  std::memcpy(text + length, more, more_length);
  text[length + more_length] = '\0';
  return length + more_length;
}

}  // namespace

void ApplyOptionArguments(UnloadHandle* job, int argc, char** argv) {
  static constexpr char kParfile[] = "parfile=";
  constexpr size_t kParfileLength = sizeof(kParfile) - 1;
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    const char* arg = argv[arg_idx];
    size_t length = std::strlen(arg);
    if (length >= kParfileLength && EqualIgnoringCase(arg, kParfile, kParfileLength)) {
      char name[kParfileNameLimit + 1] = {};
      std::strncpy(name, arg + kParfileLength, kParfileNameLimit);
      ReadParameterFile(job, name);
    } else if (length == 3 && EqualIgnoringCase(arg, "-si", 3)) {
      SetUserString(job, "/");
    } else if (SetOption(job, arg) == 0 && arg_idx == 1) {
      SetUserString(job, arg);
    }
  }
}

void CollectBindArguments(UnloadHandle* job, int argc, char** argv) {
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    if (job->bind_count >= kMaxCommandLineBinds) break;
    const char* arg = argv[arg_idx];
    if (arg[0] != ':') continue;
    const char* text = arg + 1;
    size_t text_length = std::strlen(text);
    if (text_length > kBindTextLimit) text_length = kBindTextLimit;
    const void* equals = std::memchr(text, '=', text_length);
    size_t name_length = equals != nullptr
                             ? static_cast<size_t>(static_cast<const char*>(equals) - text)
                             : text_length;
    if (name_length == 0) continue;
    size_t value_length = equals != nullptr ? text_length - name_length - 1 : 0;
    if (name_length > kBindNameLimit) name_length = kBindNameLimit;
    if (value_length > kBindValueLimit) value_length = kBindValueLimit;

    BindEntry& entry = job->binds[job->bind_count];
    std::memset(&entry, 0, sizeof(entry));
    std::memcpy(entry.name, text, name_length);
    entry.name_length = static_cast<int32_t>(name_length);
    if (equals != nullptr) {
      std::memcpy(entry.value, static_cast<const char*>(equals) + 1, value_length);
    }
    entry.value_length = static_cast<int32_t>(value_length);
    ++job->bind_count;
  }
}

void ReadParameterFile(UnloadHandle* job, const char* name) {
  if (name[0] == '-') {
    ReadParameterItems(job, stdin);
    return;
  }
  // Read-only: a parameter file holding a password may well be protected against writing.
  FILE* input = std::fopen(name, "rb");
  if (input == nullptr) return;
  ReadParameterItems(job, input);
  std::fclose(input);
}

void ReadParameterItems(UnloadHandle* job, FILE* input) {
  auto item = std::make_unique<char[]>(kParameterItemLimit + 1);
  size_t item_length = 0;
  char line[kParameterPieceChars + 2];
  while (std::fgets(line, kParameterPieceChars + 1, input) != nullptr) {
    size_t line_length = TrimLineEnd(line);
    if (line_length == 0) continue;
    if (!IsAsciiSpace(line[0])) {
      if (item_length > 0) SetOption(job, item.get());
      item_length = 0;
      item[0] = '\0';
    }
    item_length = AppendCut(item.get(), item_length, kParameterItemLimit, line, line_length);
  }
  if (item_length > 0) SetOption(job, item.get());
}

void AppendSqlFile(UnloadHandle* job) {
  if (job->sql[0] == '\0') return;
  if (std::strcmp(job->sql, "-") == 0) {
    AppendSqlLines(job, stdin, true);
    return;
  }
  FILE* input = std::fopen(job->sql, "r");
  if (input == nullptr) return;
  AppendSqlLines(job, input, false);
  std::fclose(input);
}

void AppendSqlLines(UnloadHandle* job, FILE* input, bool stop_at_slash) {
  static_assert(kQueryLimit < sizeof(UnloadHandle::query), "query limit must leave the NUL");
  size_t query_length = std::strlen(job->query);
  char line[kSqlPieceChars + 2];
  while (std::fgets(line, kSqlPieceChars + 1, input) != nullptr) {
    if (stop_at_slash && line[0] == '/') break;
    query_length = AppendCut(job->query, query_length, kQueryLimit, line, std::strlen(line));
    query_length = AppendCut(job->query, query_length, kQueryLimit, " ", 1);
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
  if (input == nullptr) return -1;
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
  if (!from_stdin) std::fclose(input);
  return write_failed ? -1 : 0;
}

}  // namespace rowflume
