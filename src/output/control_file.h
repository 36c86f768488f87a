// The loader control file written beside a text unload: a commented CREATE TABLE sketch of the
// select list, the load options, the data file, the record and field separators and one field
// clause per column, so that the unloaded text loads back into a table unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "db/columns.h"
#include "job/job_record.h"
#include "output/manifest.h"

namespace rowflume {

constexpr int kControlNameBytes = 256;  // area of the composed "<table>_sqlldr.ctl" name

// Width a column occupies in a data record: a LOB fetched through its locator stands there as
// its file name (30 characters); every other column takes its display width.
int RecordFieldWidth(const ColumnDesc* column);

// Length of every record of a fixed-width unload: the sum of the field widths and `record`.
int FixedRecordLength(const ColumnDesc* head, const UnloadHandle* job);

// The name of the control file a run of the job writes: `control`, or "<table>_sqlldr.ctl".
void ControlFileName(const UnloadHandle* job, char* name, size_t size);

// One select-list column as the control file names it, kept apart from the fetch buffers so
// that the file can be written once every data file of an unload is known.
struct ControlColumn {
  char name[32];           // as ColumnDesc::name
  int16_t described_type;  // OCI_ATTR_DATA_TYPE
  int16_t precision;
  int16_t scale;
  int32_t width;  // RecordFieldWidth
  bool lob_file;  // a CLOB or BLOB read from the LOB file the data names
};

struct ControlLayout {
  std::vector<ControlColumn> columns;  // in select-list order
  bool fixed_width;                    // `field` starts with a space
  int32_t record_length;               // FixedRecordLength
};

// The layout of the described column list.
ControlLayout DescribeControlLayout(const ColumnDesc* head, const UnloadHandle* job);

// The INFILE name of a data file as the unload loop expanded it: an appended file without its
// "+"; standard output ("-") and commands as they stand, there being no file to name.
std::string LoadedFileName(const std::string& expanded);

// Writes the file named by `control`, or "<table>_sqlldr.ctl", with one INFILE clause for each
// of data_files (loader file names, see LoadedFileName), in their order. The caller decides
// whether one is wanted (a `table`, a text format, the first piece) and when: after the files
// exist. A file that cannot be created is skipped without a message: the unload does not depend
// on it; one that cannot be written or closed whole is removed again. With a header line and
// several files every file's first record is skipped (FIELD NAMES ALL FILES IGNORE: SKIP would skip
// the first file's only).
//
// Column clauses follow what the unload writes: DATE and TIMESTAMP fields carry the masks of the
// session formats the job run sets, and CLOB and BLOB columns fetched through locators read
// their values from the LOB file named in the data. A LOB fetched inline is written as text of
// its display width, so its clause is a plain character field of that width.
// The file is written under a temporary name and put in place when whole. written, when given,
// receives its name, bytes and digest when it was written.
bool WriteControlFile(const ControlLayout& layout, const UnloadHandle* job,
                      const std::vector<std::string>& data_files, ManifestFile* written = nullptr);

// The text of a loader file name between quotes that keep every byte: apostrophes when the
// name has none, else double quotes when it has none of those, else apostrophes with each one
// in the name escaped; a backslash before the closing quote or another escape is doubled.
std::string QuotedLoaderFileName(const std::string& name);

}  // namespace rowflume
