#include "main/driver.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "db/session.h"
#include "job/command_line.h"
#include "run/job_run.h"
#include "run/parallel_run.h"
#include "scramble/scramble.h"

namespace rowflume {
namespace {

constexpr int kBannerLineCount = 3;
constexpr int kBannerBlockBytes = 128;
constexpr int kOneShotStatus = 1;  // crypt, uncrack and the usage text all end with this

constexpr StoredText kBannerLines[kBannerLineCount] = {
    StoredText::kBannerLine1, StoredText::kBannerLine2, StoredText::kBannerLine3};
static_assert(StoredTextBytes(StoredText::kBannerLine1) == kBannerBlockBytes &&
                  StoredTextBytes(StoredText::kBannerLine2) == kBannerBlockBytes &&
                  StoredTextBytes(StoredText::kBannerLine3) == kBannerBlockBytes,
              "banner lines are 128-byte blocks");

}  // namespace

int PrepareCommandLineJob(UnloadHandle* job, int argc, char** argv) {
  InitJobDefaults(job);
  unsigned char banner_blocks[kBannerLineCount][kBannerBlockBytes];
  const char* banner_lines[kBannerLineCount];
  for (int line_idx = 0; line_idx < kBannerLineCount; ++line_idx) {
    LoadStoredText(kBannerLines[line_idx], banner_blocks[line_idx]);
    banner_lines[line_idx] = reinterpret_cast<const char*>(banner_blocks[line_idx]);
  }

  ApplyOptionArguments(job, argc, argv);
  CollectBindArguments(job, argc, argv);
  AppendSqlFile(job);

  int status = 0;
  if (job->user[0] == '\0') job->user[0] = '/';
  if (job->crypt != 0) {
    ScrambleUserString("user=", job->user);
    status = kOneShotStatus;
  } else if (job->uncrack[0] != '\0') {
    UncrackFile(job->file, job->uncrack, stdout);
    status = kOneShotStatus;
  } else {
    UnscrambleUserString(job->user);
    if (job->query[0] == '\0' && job->split[0] == '\0') {
      WriteUsage(stdout, banner_lines, job->help != 0);
      std::fflush(stdout);
      status = kOneShotStatus;
    }
  }
  std::memset(banner_blocks, 0, sizeof(banner_blocks));
  return status;
}

int RunCommandLine(int argc, char** argv) {
  // The driver's own session checks the credentials once before any output exists; the job run
  // logs on again with a session of its own.
  DbSession session;
  SessionInit(&session);
  auto job = std::make_unique<UnloadHandle>();
  int status = PrepareCommandLineJob(job.get(), argc, argv);
  if (status != 0) return status;

  if (LogonUserString(&session, job->user) != 0) {
    Logoff(&session);
    return kOneShotStatus;
  }
  ResolveCharsetIds(&session, job->charset, job->ncharset, &job->charset_id, &job->ncharset_id);

  if (job->degree > 1 && job->split[0] != '\0') {
    status = RunParallel(job.get(), &session);
  } else {
    status = RunJob(job.get());
  }
  Logoff(&session);
  return status;
}

}  // namespace rowflume
