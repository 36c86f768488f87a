// The manifest of one run (`manifest=FILE`), kept up to date while the run goes on: written when
// the run starts, again whenever a piece ends, and last when the run ends, failed or not, each
// time whole (under a temporary name put in place), so that a run that is killed leaves the
// manifest of every piece it finished. The pieces of a parallel run end on their own threads:
// every change is made under the keeper's lock.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "db/session.h"
#include "job/job_record.h"
#include "output/manifest.h"
#include "run/job_run.h"

namespace rowflume {

class ManifestKeeper {
 public:
  // Nothing is kept, and nothing written, for a job without `manifest` (or none).
  explicit ManifestKeeper(const UnloadHandle* job);
  bool active() const { return active_; }
  bool started() const { return started_; }

  // What the run reads, known once it has prepared its query (and resolved its SCN).
  // record_length is the fixed-width layout's (0 for the others).
  void SetRead(const UnloadHandle* job, const std::string& query, int64_t record_length);
  void SetLobSet(int32_t set, int32_t lobdir);
  // A piece the run is to unload, in piece order; ranges empty for a piece reading the table
  // whole.
  // attempts counts those of the runs before (a resumed run's).
  void AddPiece(int32_t number, const std::string& min_rowid, const std::string& max_rowid,
                int32_t attempts = 0);
  // A piece a resumed run does not unload again: its entry and files, from the manifest before.
  void CarryPiece(const ManifestPiece& piece, const std::vector<ManifestFile>& files);
  void PieceStarted(int32_t number);
  // A data file of the piece opened (not whole yet) or closed whole while the piece runs: listed,
  // in place of its entry when opened, and the manifest written.
  void FileNoted(int32_t number, const ManifestFile& file);
  // An attempt of the piece ended with status: on success its files are listed, on failure none
  // (the run took them back). Writes the manifest.
  void PieceEnded(int32_t number, int status, const RunOutputs& outputs);
  // The control file written once the pieces have succeeded.
  void AddControlFile(const ManifestFile& file);
  // Writes the first manifest, before anything is unloaded: false after a message when it
  // cannot be written (the run then does not start).
  bool Start(DbSession* session);
  // The run's result: written as the last manifest. Returns status, or kRunWriteFailed after a
  // message when a successful run's manifest could not be written.
  int Finish(int status, DbSession* session);

 private:
  // Writes the manifest as it stands; the caller holds the lock.
  bool WriteLocked();
  ManifestPiece* FindPiece(int32_t number);
  void DropFiles(int32_t number);

  bool active_ = false;
  bool started_ = false;  // Start wrote the first manifest
  bool failed_ = false;   // a write of the manifest failed: the run cannot succeed
  bool quiet_ = false;    // the data goes to standard output with the messages: no note there
  std::string path_;
  std::mutex lock_;
  Manifest manifest_;
};

// A short text for a run's result code, for the manifest's failure field; with the database's
// error text when the session kept one.
std::string FailureText(int status, const DbSession* session);

}  // namespace rowflume
