#include "main/driver.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/session.h"
#include "job/command_line.h"
#include "platform/platform.h"
#include "run/client_choice.h"
#include "run/job_checks.h"
#include "run/job_run.h"
#include "run/parallel_run.h"
#include "run/verify.h"
#include "scramble/scramble.h"
#include "version.h"

namespace rowflume {
namespace {

constexpr int kBannerLineCount = 3;
constexpr int kBannerBlockBytes = 128;
constexpr int kOneShotStatus = 1;  // crypt, uncrack and the usage text all end with this
constexpr int kUncrackFailed = 2;  // the unscramble tool could not read or write the whole file

constexpr StoredText kBannerLines[kBannerLineCount] = {
    StoredText::kBannerLine1, StoredText::kBannerLine2, StoredText::kBannerLine3};
static_assert(StoredTextBytes(StoredText::kBannerLine1) == kBannerBlockBytes &&
                  StoredTextBytes(StoredText::kBannerLine2) == kBannerBlockBytes &&
                  StoredTextBytes(StoredText::kBannerLine3) == kBannerBlockBytes,
              "banner lines are 128-byte blocks");

// The usage text on standard output, with the banner lines unscrambled only for it.
void PrintUsage(bool help) {
  unsigned char banner_blocks[kBannerLineCount][kBannerBlockBytes];
  const char* banner_lines[kBannerLineCount];
  for (int line_idx = 0; line_idx < kBannerLineCount; ++line_idx) {
    LoadStoredText(kBannerLines[line_idx], banner_blocks[line_idx]);
    banner_lines[line_idx] = reinterpret_cast<const char*>(banner_blocks[line_idx]);
  }
  WriteUsage(stdout, banner_lines, help);
  std::memset(banner_blocks, 0, sizeof(banner_blocks));
}

// The unscramble tool: kOneShotStatus when the whole file went to standard output, otherwise a
// message on standard error (standard output holds the file) and kUncrackFailed.
int Uncrack(const char* name, const char* key) {
  int result = UncrackFile(name, key, stdout);
  if (result == 0) return kOneShotStatus;
  const char* shown = InputName(name);
  if (result == kUncrackUnreadable) {
    std::fprintf(stderr, messages::kUncrackUnreadable, shown);
  } else {
    std::fprintf(stderr, messages::kUncrackUnwritable, shown);
  }
  return kUncrackFailed;
}

// Overwrites length characters at start with at most three stars, moving the rest of the text
// up and clearing the bytes it leaves, so that no part of the password stays in the argument.
void MaskText(char* text, size_t start, size_t length) {
  const size_t stars = length < 3 ? length : 3;
  const size_t total = std::strlen(text);
  std::memset(text + start, '*', stars);
  std::memmove(text + start + stars, text + start + length, total - start - length + 1);
  std::memset(text + total - (length - stars), '\0', length - stars);
}

// Where the secret of a user string argument lies: the password, or a scrambled user string
// whole (which gives the password back to anyone with the program). An unquoted at sign inside
// a password ("ti@ger@orcl") ends it for the logon, but the text up to the last at sign outside
// double quotes may well be the password's, so all of that is hidden.
bool FindSecret(int arg_idx, char* arg, size_t* start, size_t* length) {
  const char* user = UserStringArgument(arg_idx, arg);
  if (user == nullptr || user[0] == '\0') return false;
  const size_t user_offset = static_cast<size_t>(user - arg);
  const size_t user_length = std::strlen(user);
  bool scrambled = true;
  for (size_t pos = 0; pos < user_length && scrambled; ++pos) scrambled = IsHexDigit(user[pos]);
  if (scrambled) {
    *start = user_offset;
    *length = user_length;
    return true;
  }
  const UserStringParts parts = SplitUserString(user);
  if (parts.password_length == 0) return false;
  size_t secret_end = parts.password_start + parts.password_length;
  bool quoted = false;
  for (size_t pos = 0; pos < user_length; ++pos) {
    if (user[pos] == '"') quoted = !quoted;
    if (user[pos] == '@' && !quoted && pos > secret_end) secret_end = pos;
  }
  *start = user_offset + parts.password_start;
  *length = secret_end - parts.password_start;
  return true;
}

// The secret of every user string on the command line is hidden from the arguments, which other
// users of the machine can read while the run lasts (ps, /proc/PID/cmdline); the job is built
// from copies. Where the platform can show a command line of its own, it shows the arguments
// joined by spaces with "***" for each secret, so that not even its length shows; elsewhere each
// secret is overwritten in its argument. Without a secret the arguments stay as they are.
void HidePasswords(int argc, char** argv) {
  std::string title;
  bool hidden = false;
  for (int arg_idx = 0; arg_idx < argc; ++arg_idx) {
    std::string shown = argv[arg_idx];
    size_t start = 0;
    size_t length = 0;
    if (arg_idx > 0 && FindSecret(arg_idx, argv[arg_idx], &start, &length)) {
      shown.replace(start, length, "***");
      hidden = true;
    }
    if (arg_idx > 0) title += ' ';
    title += shown;
  }
  if (!hidden || ShowCommandLineAs(argc, argv, title.c_str())) return;
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    size_t start = 0;
    size_t length = 0;
    if (FindSecret(arg_idx, argv[arg_idx], &start, &length)) MaskText(argv[arg_idx], start, length);
  }
}

}  // namespace

int PrepareCommandLineJob(UnloadHandle* job, int argc, char** argv) {
  InitJobDefaults(job);

  // The secrets leave the arguments before anything else runs (a parameter file on standard
  // input may keep the program waiting): the job is built from copies.
  std::vector<std::string> words(argv, argv + argc);
  std::vector<char*> copies;
  for (std::string& word : words) copies.push_back(word.data());
  copies.push_back(nullptr);
  HidePasswords(argc, argv);
  ApplyOptionArguments(job, argc, copies.data());
  CollectBindArguments(job, argc, copies.data());
  AppendSqlFile(job);
  ResolveOutputFormat(job);

  int status = 0;
  // A verify run logs on only when a user is given: it counts the rows in the database then.
  if (job->user[0] == '\0' && job->verify[0] == '\0') job->user[0] = '/';
  // Nothing runs on a command line that could not be taken whole, not even the one-shot modes.
  DbSession console;
  SessionInit(&console);
  if (CheckValuesTaken(job, &console) != 0) {
    status = kRunRefused;
  } else if (job->crypt != 0) {
    ScrambleUserString("user=", job->user);
    status = kOneShotStatus;
  } else if (job->uncrack[0] != '\0') {
    status = Uncrack(job->file, job->uncrack);
  } else {
    UnscrambleUserString(job->user);
    if (job->query[0] == '\0' && job->split[0] == '\0' && job->plan[0] == '\0' &&
        job->pieces[0] == '\0' && job->verify[0] == '\0') {
      PrintUsage(job->help != 0);
      std::fflush(stdout);
      status = kOneShotStatus;
    }
  }
  return status;
}

int RunCommandLine(int argc, char** argv) {
  // The conventions of command-line tools, beside the keywords: --version and --help succeed.
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    const char* arg = argv[arg_idx];
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      std::printf("rowflume %s\n", ROWFLUME_VERSION);
      return std::fflush(stdout) == 0 ? 0 : kOneShotStatus;
    }
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      PrintUsage(true);
      return std::fflush(stdout) == 0 ? 0 : kOneShotStatus;
    }
  }
  // The driver's own session checks the credentials once before any output exists; the job run
  // logs on again with a session of its own.
  DbSession session;
  SessionInit(&session);
  auto job = std::make_unique<UnloadHandle>();
  int status = PrepareCommandLineJob(job.get(), argc, argv);
  if (status != 0) return status;

  if (job->verify[0] != '\0') return RunVerify(job.get());

  // Refusals come before the logon: nothing is sent for a job that cannot run.
  const bool parallel = IsParallelJob(job.get());
  status = CheckJob(job.get(), &session);
  if (status == 0 && parallel) status = CheckParallelJob(job.get(), &session);
  if (status != 0) return status;

  if (LogonChosenClient(&session, job->user) != 0) {
    Logoff(&session);
    return kOneShotStatus;
  }
  ResolveCharsetIds(&session, job->charset, job->ncharset, &job->charset_id, &job->ncharset_id);

  if (parallel) {
    status = RunParallel(job.get(), &session);
  } else {
    status = RunJob(job.get());
  }
  Logoff(&session);
  return status;
}

}  // namespace rowflume
