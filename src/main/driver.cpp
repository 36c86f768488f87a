#include "main/driver.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common/ascii.h"
#include "common/messages.h"
#include "db/session.h"
#include "job/command_line.h"
#include "run/job_checks.h"
#include "run/job_run.h"
#include "run/parallel_run.h"
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
// up and clearing the bytes it leaves, so that neither the password nor its length shows.
void MaskText(char* text, size_t start, size_t length) {
  const size_t stars = length < 3 ? length : 3;
  const size_t total = std::strlen(text);
  std::memset(text + start, '*', stars);
  std::memmove(text + start + stars, text + start + length, total - start - length + 1);
  std::memset(text + total - (length - stars), '\0', length - stars);
}

// The password of every user string on the command line (a plain one, or a scrambled one,
// which gives the password back to anyone with the program) is overwritten in the arguments
// themselves, which other users of the machine can read while the run lasts (ps,
// /proc/PID/cmdline). The job holds its own copy.
void HidePasswords(int argc, char** argv) {
  for (int arg_idx = 1; arg_idx < argc; ++arg_idx) {
    char* user = UserStringArgument(arg_idx, argv[arg_idx]);
    if (user == nullptr || user[0] == '\0') continue;
    const size_t length = std::strlen(user);
    bool scrambled = true;
    for (size_t pos = 0; pos < length && scrambled; ++pos) scrambled = IsHexDigit(user[pos]);
    if (scrambled) {
      MaskText(user, 0, length);
      continue;
    }
    const UserStringParts parts = SplitUserString(user);
    if (parts.password_length > 0) MaskText(user, parts.password_start, parts.password_length);
  }
}

}  // namespace

int PrepareCommandLineJob(UnloadHandle* job, int argc, char** argv) {
  InitJobDefaults(job);

  ApplyOptionArguments(job, argc, argv);
  CollectBindArguments(job, argc, argv);
  HidePasswords(argc, argv);
  AppendSqlFile(job);

  int status = 0;
  if (job->user[0] == '\0') job->user[0] = '/';
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
        job->pieces[0] == '\0') {
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

  // Refusals come before the logon: nothing is sent for a job that cannot run.
  // A split plan is written by a split run and its pieces are run from it: both are parallel
  // runs, whatever the degree, and are refused as such when incomplete.
  const bool parallel =
      (job->degree > 1 && job->split[0] != '\0') || job->plan[0] != '\0' || job->pieces[0] != '\0';
  status = CheckJob(job.get(), &session);
  if (status == 0 && parallel) status = CheckParallelJob(job.get(), &session);
  if (status != 0) return status;

  if (LogonUserString(&session, job->user) != 0) {
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
