// LOB values written to files of their own (`lob`=FILE): the file names, the piecewise read of
// one value through its locator into its file, and the hook through which the field encoder
// writes a value and puts the file's name into the data file.
//
// File names: "LOB<dddd>/<pp><rrrrrrrrrr>_<cccc>.dat", lower-case hexadecimal, where
//   dddd        the subdirectory: the row number modulo `lobdir`, plus 1024 times the run's
//               LOB set;
//   pp          the job's piece number (1 for a serial unload, the range number of a parallel
//               worker), low 8 bits;
//   rrrrrrrrrr  the row number: rows completed by the job before this one, over all its output
//               files (it does not restart with a new file), low 40 bits;
//   cccc        the column's 0-based select-list position.
// The separator is the platform's directory separator. A name has 29 characters, within the
// 30 the fixed layout reserves. Counting rows over the whole job and naming the piece keeps
// every name unique over a whole unload, parallel pieces included. Across unloads the set
// does: every unload into a folder first claims a set of its own by making the set's first
// subdirectory (LOB0000, LOB0400, ... LOBfc00), which fails for a set another unload (or
// anything else of that name) holds. Files are made new, never opened over an existing one, so
// no LOB file ever replaces another; a run that fails removes the files of its piece, so that a
// run again starts from none.
#pragma once

#include <cstdint>

#include "db/columns.h"
#include "db/oracle_types.h"
#include "db/session.h"
#include "output/manifest.h"

namespace rowflume {

constexpr int kLobReadBytes = 32768;  // one piece of a LOB read
constexpr int kLobNameBytes = 512;    // area a LOB file name is built in
constexpr int kLobNameLength = 29;    // characters of every LOB file name
static_assert(kLobNameLength <= kLobNameWidth, "a LOB file name fits the width reserved for it");
constexpr int kLobDirectoryLength = 7;    // "LOB" and 4 hexadecimal digits: the name's directory
constexpr int kLobSetDirectories = 1024;  // subdirectories of one set: the largest `lobdir`
constexpr int kLobSets = 64;              // sets that four hexadecimal digits can name

// Claims the first free LOB set in the current directory, one of whose first lobdir
// subdirectories none exists: 0 with *set, or -1 after a message when every set is taken or none
// can be made. Every file in a claimed set is then the claiming unload's own.
int ClaimLobSet(DbSession* session, int lobdir, int* set);
// Takes up again the set of an unload that is being resumed: its first subdirectory made when it
// is gone. 0, or -1 after a message.
int ReclaimLobSet(DbSession* session, int set);
// Gives back what of a set holds no file: its empty subdirectories go, the first one (the claim)
// only when all the others have gone.
void ReleaseLobSet(int set, int lobdir);
// Removes the LOB files of the piece from the set (and the subdirectories left empty); false
// when one could not be removed.
bool RemovePieceLobFiles(int set, int lobdir, int piece);

// Builds the name above into dest (capacity bytes, NUL-terminated). Returns its length, or -1
// when it does not fit.
int FormatLobFileName(char* dest, int capacity, int lobdir, int set, int piece, uint64_t row_number,
                      int position);

// Reads the whole value behind locator and writes it to the file name (made new: an existing
// file of that name is never opened; its subdirectory is created when the first open fails).
// Returns 0 when the whole value was read and written; otherwise the status of the client call that
// failed (its error reported through ReportError), or -1 when the file could not be opened, written
// or closed (reported as "ERROR -- Cannot write to file : <name>"). The LOB is closed whenever it
// was opened. Bytes are written as the client library delivers them, untranslated. charset_form is
// the column's (ColumnDesc::charset_form), which every read names. With digest the file's SHA-256
// is made as it is written; tally, when given, receives its bytes (and digest).
int WriteLobFile(DbSession* session, OCILobLocator* locator, uint8_t charset_form, const char* name,
                 bool digest = false, StreamTally* tally = nullptr);

// The job-side state of the encoder's LOB hook.
struct LobFileSink {
  DbSession* session;
  int lobdir;    // subdirectories, 1 or more
  int set;       // the run's claimed LOB set
  int piece;     // the job's piece number
  int failures;  // values that could not be written; the run then ends with a failed write
  std::vector<ManifestFile>* written = nullptr;  // every LOB file written whole, when kept
  bool digest = false;                           // ... with its SHA-256
};

void InitLobFileSink(LobFileSink* sink, DbSession* session, int lobdir, int set, int piece);

// The encoder's LobFileWriter: context is a LobFileSink, row_number the rows completed by the
// job before this row. Writes the value of column at row_idx of the fetched array and returns
// the name's length, or -1 (the failure counted and already reported).
int WriteLobValue(void* context, ColumnDesc* column, int row_idx, uint64_t row_number, int position,
                  char* name, int name_capacity);

}  // namespace rowflume
