// The job record: every option of one unload job, the values resolved from some of them, the
// names and values of the query's bind variables and the little run state read back after a
// run. It is a flat value with fixed-capacity texts and owns no memory, so a byte copy is an
// independent job. The option parsers fill it and the run layer (src/run) writes it while it
// runs; the database, output and parallel layers only read it.
#pragma once

#include <cstdint>

namespace rowflume {

// Message callback of a job run: (opaque context, NUL-terminated text), no result.
using RowCallback = void (*)(void* context, const char* text);

constexpr int kMaxBinds = 20;             // 18 from the command line, 2 added per parallel piece
constexpr int kMaxCommandLineBinds = 18;  // bind arguments taken from the command line
constexpr int kMaxErrorCodes = 32;        // tolerated fetch error numbers

// Values of `format`: what the rows are written as.
constexpr int32_t kTextFormat = 0;     // delimited text and its relatives
constexpr int32_t kMySqlFormat = 1;    // MySQL INSERT statements
constexpr int32_t kOracleFormat = 2;   // Oracle INSERT statements
constexpr int32_t kParquetFormat = 3;  // Apache Parquet files of typed columns

// Result codes of a job run, kept in `run_status` and passed on as the exit status.
constexpr int kRunOk = 0;
constexpr int kRunLogonFailed = -1;
constexpr int kRunWriteFailed = 2;     // an output, LOB file or output command failed
constexpr int kRunQueryFailed = 3;     // the query failed to prepare or execute
constexpr int kRunDescribeFailed = 5;  // the select list could not be described or defined
constexpr int kRunOpenFailed = 6;      // an output file could not be opened
constexpr int kRunFetchFailed = 7;     // a fetch error that is not tolerated
constexpr int kRunPresqlFailed = 8;
constexpr int kRunPostsqlFailed = 9;
constexpr int kRunRefused = 4;  // refused before anything ran: an over-long or conflicting option

constexpr int32_t kNoLobSet = -1;  // `lob_set` before a run has claimed a set of LOB folders

constexpr int kRefusalBytes = 320;  // the refusal message kept in the record

struct BindEntry {
  char name[32];         // placeholder without the colon, up to 30 characters
  int32_t name_length;   // bytes of name
  char value[256];       // value text, bound as SQLT_CHR
  int32_t value_length;  // bytes of value
};

struct UnloadHandle {
  char user[132];         // user/password@connect
  char table[132];        // table named in the control file and INSERT statements
  char mode[132];         // load mode of the control file, "INSERT" by default
  char query[32768];      // query text or a bare table name; the sql file is appended
  char field[132];        // field separator, decoded; length in field_length
  char log[256];          // log file name pattern
  char record[132];       // record separator, decoded; length in record_length
  char sql[255];          // file whose text is appended to query; "-" is standard input
  char file[255];         // output file name pattern
  char control[255];      // control file name
  char width[2048];       // colon-separated column widths
  char alter[2048];       // ALTER SESSION clauses separated by ";"
  char sedf[64];          // translation from-list, decoded
  char sedt[64];          // translation to-list, decoded
  char escf[64];          // characters to escape, decoded
  char esct[64];          // what each escaped character becomes, decoded
  char exec[64];          // text ending each generated statement, decoded; length in exec_length
  char quote[64];         // quote text, decoded; its length is its text length
  char rowpre[64];        // text before each row, decoded; length in rowpre_length
  char rowsuf[64];        // text after each row, decoded; length in rowsuf_length
  char null[128];         // text for a NULL value, decoded; length in null_length
  char colsep[64];        // between column name and value, decoded; length in colsep_length
  char escape;            // escape character; a space means no escaping
  char presql[1024];      // statement run before the unload
  char postsql[1024];     // statement run after the unload
  char prehead[64];       // prefix of each header column name, decoded; length in prehead_length
  char split_owner[132];  // owner of the split table, resolved by the parallel run
  char part[132];         // partition of the split table
  char split[132];        // table to unload in parallel; the bare table name once resolved
  char charset[64];       // character set name
  char ncharset[64];      // national character set name
  char hint[256];         // hint word for MySQL INSERT statements
  char unique[256];       // comma-separated unique key columns for MySQL INSERT statements
  char scn[24];           // read at this system change number: "current", digits, or empty
  char plan[255];         // split plan file: written by a split run, read by a pieces run
  char pieces[256];       // pieces of the plan this run unloads, e.g. "1,4-6"; empty: all
  char manifest[255];     // manifest file of the run: its outputs with rows, bytes and SHA-256
  char verify[255];       // manifest whose files a verify run checks
  char layout[16];        // the `text` layout last asked for; empty for none
  char compress[16];      // Parquet codec: ZSTD, SNAPPY or NONE; empty for the build's default
  char number[16];        // Parquet column of NUMBER without precision and FLOAT: TEXT or DOUBLE
  char crack[32];         // content scramble key for the output, decoded
  char uncrack[32];       // content scramble key for the unscramble tool, decoded
  uint32_t rows;          // progress interval, and rows per file with batch; at least 1000
  int32_t data;           // 0: describe only, fetch no rows
  int32_t field_length;
  int32_t record_length;
  int32_t rowpre_length;
  int32_t rowsuf_length;
  int32_t buffer;  // loader read and bind size in bytes (set in megabytes)
  int32_t hash;    // hash area size in megabytes, 0 = leave alone
  int32_t sort;    // sort area size in megabytes, 0 = leave alone
  int32_t read;    // multiblock read count in blocks, 0 = leave alone
  int32_t serial;  // serial direct read
  int32_t trace;   // trace event level, 0 = off
  int32_t batch;   // new output file every `rows` rows
  int32_t head;    // header line of column names
  int32_t safe;    // large fetch buffers
  int32_t crypt;   // only print the scrambled user string
  int32_t resume;  // a pieces run skips the pieces its manifest holds complete and verified
  int32_t null_length;
  int32_t format;    // kTextFormat, kMySqlFormat, kOracleFormat or kParquetFormat
  int32_t rowgroup;  // bytes a Parquet row group holds in memory at most (set in megabytes)
  int32_t update;    // MySQL ON DUPLICATE KEY UPDATE tail
  int32_t size;      // output file piece size in megabytes
  int32_t colsep_length;
  int32_t exec_length;
  int32_t prehead_length;
  int32_t lob;           // 1: LOB values go to files of their own
  int32_t lobdir;        // LOB subdirectories, 8 to 1024
  int32_t lob_set;       // LOB folder set the run writes into; kNoLobSet until a run claims one
  int32_t degree;        // parallel pieces asked for, 1 to 128
  uint16_t charset_id;   // resolved from charset; 0 = client default
  uint16_t ncharset_id;  // resolved from ncharset; 0 = client default
  uint8_t client;        // convert numbers and dates on the client
  uint16_t retry;        // re-runs of failed parallel pieces, at most 128
  uint16_t sleep;        // tenths of a second before each re-run, at most 180
  uint32_t array;        // rows per array fetch, 5 to 2000
  uint32_t long_limit;   // `long`: largest LONG or LOB value fetched, in bytes
  uint8_t help;          // usage text lists every keyword
  int32_t run_status;    // result code of the last job run
  int32_t piece;         // piece number in a parallel run, from 1
  int32_t bind_count;    // bind entries in use
  BindEntry binds[kMaxBinds];
  int32_t error_count;                  // entries in error_codes
  int32_t error_codes[kMaxErrorCodes];  // fetch errors that do not stop the unload
  void* callback_context;               // first argument of every callback call; never freed here
  RowCallback callback;                 // message callback set by a library caller
  uint64_t cut_options;     // bit k: the keyword parser's option k holds a value cut to its limit
  uint16_t preset_options;  // bit k: layout option k was last set by a preset (job/options.cpp)
  char refusal[kRefusalBytes];  // why the command line cannot run, as a message; empty when it can
};

// Settles what the job record leaves to its other options: a `file` ending in ".parquet"
// (letter case aside), with no layout asked for, writes Parquet; and a Parquet run asks the
// client for UTF-8 text unless a character set was named. Running it twice changes nothing.
void ResolveOutputFormat(UnloadHandle* job);

// A bind entry of that name (without its colon) and value, each cut to its field's capacity
// (the option parser has refused longer ones before a run makes one).
BindEntry MakeBindEntry(const char* name, const char* value);

// Clears every field and sets the defaults; returns the record.
UnloadHandle* InitJobDefaults(UnloadHandle* job);

}  // namespace rowflume
