// The loader control file written beside a text unload: a commented CREATE TABLE sketch of the
// select list, the load options, the data file, the record and field separators and one field
// clause per column, so that the unloaded text loads back into a table unchanged.
#pragma once

#include <cstddef>

#include "db/columns.h"
#include "job/job_record.h"

namespace rowflume {

constexpr int kControlNameBytes = 256;  // area of the composed "<table>_sqlldr.ctl" name

// Width a column occupies in a data record: a LOB fetched through its locator stands there as
// its file name (30 characters); every other column takes its display width.
int RecordFieldWidth(const ColumnDesc* column);

// Length of every record of a fixed-width unload: the sum of the field widths and `record`.
int FixedRecordLength(const ColumnDesc* head, const UnloadHandle* job);

// The name of the control file a run of the job writes: `control`, or "<table>_sqlldr.ctl".
void ControlFileName(const UnloadHandle* job, char* name, size_t size);

// Writes the file named by `control`, or "<table>_sqlldr.ctl". The caller decides whether one
// is wanted (a `table`, a text format, the first piece). A file that cannot be created is
// skipped without a message: the unload does not depend on it. fixed_width is true when
// `field` starts with a space.
//
// Column clauses follow what the unload writes: DATE and TIMESTAMP fields carry the masks of the
// session formats the job run sets, and CLOB and BLOB columns fetched through locators read
// their values from the LOB file named in the data. A LOB fetched inline is written as text of
// its display width, so its clause is a plain character field of that width.
void WriteControlFile(const ColumnDesc* head, bool fixed_width, const UnloadHandle* job);

}  // namespace rowflume
