// The program's own message texts, in one table: what failed, on what, and what to do. Oracle
// error texts are passed on verbatim and are not here. Texts with arguments are printf formats;
// the compiler checks every use against them. Each ends with a line feed unless its user adds
// one.
#pragma once

namespace rowflume::messages {

// ---- Progress and output files ------------------------------------------------------------------

inline constexpr char kProgress[] =
    "%12llu rows exported at %04d-%02d-%02d %02d:%02d:%02d, size %.0f MB.\n";
inline constexpr char kFileClosed[] =
    "         output file %s closed at %llu rows, size %.0f MB.\n";
inline constexpr char kCannotWriteFile[] = "ERROR -- Cannot write to file : %s\n";
inline constexpr char kCannotCloseFile[] = "ERROR -- Cannot close file : %s\n";
inline constexpr char kWouldReplace[] =
    "ERROR -- Output file %s would replace %s; nothing more was written\n";
inline constexpr char kFailedOutputsRemoved[] =
    "ERROR -- The run failed: its %d output files were removed, so that none is taken for "
    "complete\n";
inline constexpr char kLobFilesLeft[] =
    "ERROR -- The run failed and some of its LOB files could not be removed\n";
inline constexpr char kNameTooLong[] =
    "ERROR -- Output file name longer than %d characters, not opened\n";
inline constexpr char kStandardOutput[] = "standard output";  // the name of file=- in messages

// ---- The unload
// -----------------------------------------------------------------------------------

inline constexpr char kNoOutputBuffer[] = "ERROR -- Cannot allocate the output buffer\n";
inline constexpr char kNoRowCount[] = "ERROR -- Cannot read the row count of the last fetch\n";
inline constexpr char kFetchErrorRepeated[] =
    "ERROR -- Fetch error repeated %d times without rows, unload stopped\n";
inline constexpr char kTooManyColumns[] =
    "ERROR -- The query has %u columns; at most %d can be unloaded\n";
inline constexpr char kLobSetsTaken[] =
    "ERROR -- All %d sets of LOB folders here (LOB0000, LOB0400, ...) hold other unloads' files; "
    "unload into another folder\n";
inline constexpr char kNoLobLocator[] = "ERROR -- Cannot allocate a LOB locator\n";
inline constexpr char kBfileNeedsLobFiles[] =
    "ERROR -- Column %s is a BFILE, which is unloaded only with lob=FILE\n";
inline constexpr char kLongerThanFetchWidth[] =
    "ERROR -- Column %s holds a value longer than the %d bytes it is fetched with; %s\n";
// What lets such a value through, by the column's type: the last part of kLongerThanFetchWidth.
inline constexpr char kRaiseLongLimit[] = "give long= up to 2097152 bytes";
inline constexpr char kRaiseLongOrLobFiles[] =
    "give long= up to 2097152 bytes, or lob=FILE to write each value to a file of its own";
inline constexpr char kRaiseWidth[] = "give width= for the column, or safe=yes";
inline constexpr char kLongerThanFixedWidth[] =
    "ERROR -- A value of column %s is longer than its fixed width of %d bytes; nothing is cut: "
    "widen the column with width=, or use a delimited layout\n";

// ---- Logon
// ----------------------------------------------------------------------------------------

inline constexpr char kUserNameTooLong[] =
    "ERROR -- The user name is longer than %d bytes; logon refused.\n";
inline constexpr char kPasswordTooLong[] =
    "ERROR -- The password is longer than %d bytes; logon refused.\n";
inline constexpr char kConnectTooLong[] =
    "ERROR -- The connect string is longer than %d bytes; logon refused.\n";
inline constexpr char kNoEnvironment[] =
    "ERROR -- Cannot create the client environment; check NLS_LANG and ORACLE_HOME.\n";
inline constexpr char kNoProvider[] =
    "ERROR -- No client functions are available for this connect identifier.";
inline constexpr char kClientNotLoaded[] =
    "ERROR -- Cannot load the Oracle client library. Files tried: %s. The loader said for %s: "
    "%s. %s, or use a sqlite: connect identifier for the embedded engine.";
inline constexpr char kClientIncomplete[] =
    "ERROR -- The Oracle client library %s lacks the functions %s (files tried: %s%s). %s, or "
    "use a sqlite: connect identifier for the embedded engine.";
inline constexpr char kClientLoaderSaid[] = "; the loader said for %s: %s";

// ---- Parallel unload
// ------------------------------------------------------------------------------

inline constexpr char kSplitRefused[] =
    "ERROR -- split=%s%s%s%s%s is not [OWNER.]TABLE[:PARTITION] made of valid names; nothing "
    "unloaded\n";
inline constexpr char kSplitNamesTooLong[] =
    "ERROR -- split names too long for the dictionary query\n";
inline constexpr char kNoRoomForPiece[] =
    "ERROR -- The file or log pattern has no room for the piece number (%%p); nothing "
    "unloaded\n";
inline constexpr char kTooManyParallelBinds[] =
    "ERROR -- A parallel unload takes at most %d bind variables\n";
inline constexpr char kNoRowidRange[] =
    "ERROR -- split=%s found no ROWID range; the query was not run\n";
inline constexpr char kParallelToStdout[] =
    "ERROR -- file=- cannot take the rows of %d parallel pieces: give a file pattern; nothing "
    "was run\n";
inline constexpr char kParallelCommand[] =
    "ERROR -- The output command %s would be shared by the parallel pieces: put %%p into it; "
    "nothing was run\n";
inline constexpr char kNoRangePlaceholder[] =
    "ERROR -- The query of a parallel unload must read its range with :minrid and :maxrid; "
    "nothing was run\n";
inline constexpr char kNoRerunOfAppend[] =
    "ERROR -- Parallel piece %d failed after appending to %s; it is not run again, which would "
    "append its rows twice\n";
inline constexpr char kSplitTableMissing[] =
    "ERROR -- split=%s: the table cannot be read; nothing unloaded\n";
inline constexpr char kReadingAtScn[] = "Reading as of SCN %s\n";
inline constexpr char kScnUnavailable[] =
    "ERROR -- The current SCN could not be read; nothing unloaded\n";
inline constexpr char kNoRoomForFlashback[] =
    "ERROR -- The query has no room for its flashback clause; nothing was run\n";
inline constexpr char kPlanWritten[] = "Split plan of %u pieces of %s.%s%s%s written to %s\n";
inline constexpr char kPlanNotWritten[] = "ERROR -- Cannot write the split plan to %s\n";
inline constexpr char kManifestWritten[] = "Manifest of %llu files written to %s\n";
inline constexpr char kManifestNotWritten[] = "ERROR -- Cannot write the manifest to %s\n";
inline constexpr char kResumeNeeds[] =
    "ERROR -- resume=yes needs %s=: it resumes the pieces of a plan recorded in a manifest\n";
inline constexpr char kResumeOfAppend[] =
    "ERROR -- resume=yes needs plain output files: a piece run again would write its rows twice "
    "into an appended file or a command\n";
inline constexpr char kParquetOutput[] =
    "ERROR -- Parquet output needs a file of its own (file=NAME): its footer is written last, "
    "so it cannot go to standard output, a command or an appended file\n";
inline constexpr char kParquetControl[] =
    "ERROR -- control= describes a text data file; a Parquet file carries its own schema\n";
inline constexpr char kParquetCharset[] =
    "ERROR -- Parquet text is UTF-8: %s=%s cannot be used with it (leave it out, or give "
    "AL32UTF8)\n";
inline constexpr char kUnwritableOracleName[] =
    "ERROR -- Column name \"%s\" cannot stand in an Oracle INSERT statement (Oracle names hold "
    "no double quote and are not empty): name the column with an alias in the query\n";
inline constexpr char kTooLongForOracleInsert[] =
    "ERROR -- A value of column %s has %lld bytes, more than an Oracle INSERT statement can "
    "carry as hexadecimal (%d); nothing is cut: write the column with lob=FILE, or use another "
    "layout\n";
inline constexpr char kDatetimeForInsert[] =
    "ERROR -- A value of column %s is not in the date format YYYY-MM-DD HH24:MI:SS[.FF] "
    "[+TZH:TZM] that INSERT statements are written in; nothing is changed: leave the session's "
    "date formats as they are (alter=)\n";
inline constexpr char kParquetCodec[] = "ERROR -- compress=%s: give ZSTD, SNAPPY or NONE\n";
inline constexpr char kParquetCodecMissing[] =
    "ERROR -- compress=%s: this build cannot compress so; give NONE\n";
inline constexpr char kParquetNumber[] = "ERROR -- number=%s: give TEXT or DOUBLE\n";
inline constexpr char kParquetOnly[] =
    "ERROR -- %s= applies to Parquet output only (text=PARQUET)\n";
inline constexpr char kParquetTimeZone[] =
    "ERROR -- alter= cannot set TIME_ZONE for Parquet output: the run reads in UTC, so that "
    "TIMESTAMP WITH LOCAL TIME ZONE values arrive as the instants stored\n";
inline constexpr char kParquetValue[] =
    "ERROR -- Column %s: the value \"%.*s\" cannot be written as its Parquet type (%s); "
    "the unload stopped at row %llu\n";
inline constexpr char kParquetWriter[] =
    "ERROR -- The Parquet writer failed on %s (out of memory, or the file could not be written)\n";
inline constexpr char kResumeNothing[] = "No manifest %s yet: every piece runs\n";
inline constexpr char kResumeRefused[] = "ERROR -- manifest=%s cannot be resumed: %s\n";
inline constexpr char kResumeRerun[] = "Piece %d runs again: %s\n";
inline constexpr char kCannotRemoveCutFile[] =
    "ERROR -- Cannot remove %s, a file of a piece that runs again\n";
inline constexpr char kResumeSkipped[] = "Piece %d is complete: its %llu files verify\n";
inline constexpr char kVerifyUnreadable[] = "ERROR -- verify=%s cannot be read: %s\n";
inline constexpr char kVerifyDataFile[] = "OK       %s: %llu rows, %llu bytes\n";
inline constexpr char kVerifyNotAFile[] =
    "NOT READ %s: an output into a command or standard output (%llu rows) cannot be read again\n";
inline constexpr char kVerifyMismatch[] = "MISMATCH %s: %s\n";
inline constexpr char kVerifyIncomplete[] = "MISMATCH %s: the unload did not complete: %s\n";
inline constexpr char kVerifyNoScn[] =
    "No SCN was recorded: the rows in the database cannot be counted as of the unload\n";
inline constexpr char kVerifyCounted[] = "OK       piece %d: %llu rows in the database at SCN %s\n";
inline constexpr char kVerifyCountDiffers[] =
    "MISMATCH piece %d: %llu rows in the database at SCN %s, %llu in its files\n";
inline constexpr char kVerifyFailed[] = "ERROR -- %d mismatches: %s does not verify\n";
inline constexpr char kVerifyPassed[] = "Verified %llu files, %llu rows: %s matches\n";
inline constexpr char kPlanUnreadable[] = "ERROR -- plan=%s cannot be read; nothing was run\n";
inline constexpr char kPlanInvalid[] =
    "ERROR -- plan=%s is not a valid split plan (%s); nothing was run\n";
inline constexpr char kPlanOtherTable[] =
    "ERROR -- plan=%s was made for %s.%s%s%s, not for this table; nothing was run\n";
inline constexpr char kPlanOtherSegments[] =
    "ERROR -- plan=%s was made for other segments of %s.%s%s%s (the table was rebuilt, or its "
    "partitions changed, since): write the plan again; nothing was run\n";
inline constexpr char kControlNamesPiecesHere[] =
    "NOTE -- The control file names the files of the pieces run here only: the names the other "
    "pieces give their files (time, batch or size) cannot be known here\n";
inline constexpr char kPlanOtherScn[] =
    "ERROR -- plan=%s reads at SCN %s, not at scn=%s; nothing was run\n";
inline constexpr char kPieceNotInPlan[] =
    "ERROR -- Piece %d is not in plan %s, which has %u pieces; nothing was run\n";
inline constexpr char kPieceNotStarted[] =
    "ERROR -- Parallel piece %d could not be started (no memory or thread)\n";

// ---- Options refused before anything runs
// ----------------------------------------------------------------

inline constexpr char kScnRefused[] =
    "ERROR -- scn=%s is neither CURRENT nor a system change number; nothing was run\n";
inline constexpr char kPlanNeedsSplit[] =
    "ERROR -- plan=%s needs split= and degree= to write it, or pieces= to run pieces of it; "
    "nothing was run\n";
inline constexpr char kPiecesNeedPlan[] = "ERROR -- pieces=%s needs plan=FILE; nothing was run\n";
inline constexpr char kPiecesRefused[] =
    "ERROR -- pieces=%s is not a list of piece numbers such as 1,4-6; nothing was run\n";
inline constexpr char kOptionTooLong[] =
    "ERROR -- The value of %s is longer than %d characters; nothing was run\n";
inline constexpr char kParfileNameTooLong[] =
    "ERROR -- A parfile name is longer than %d characters; nothing was run\n";
inline constexpr char kParfileTooDeep[] =
    "ERROR -- Parameter file %s is nested more than %d parameter files deep; nothing was run\n";
inline constexpr char kUnknownKeyword[] = "WARNING -- Unknown keyword %s ignored\n";
inline constexpr char kUnknownKeywordInFile[] =
    "WARNING -- Unknown keyword %s in parameter file %s ignored\n";
inline constexpr char kCannotReadFile[] = "ERROR -- Cannot read %s %s; nothing was run\n";
inline constexpr char kItemTooLong[] =
    "ERROR -- An item of parameter file %s is longer than %d characters; nothing was run\n";
inline constexpr char kQueryTooLong[] =
    "ERROR -- The query with SQL file %s is longer than %d characters; nothing was run\n";
inline constexpr char kNulInFile[] = "ERROR -- %s %s holds a NUL byte; nothing was run\n";
inline constexpr char kBindNameTooLong[] =
    "ERROR -- The bind variable name :%.*s... is longer than %d characters; nothing was run\n";
inline constexpr char kBindValueTooLong[] =
    "ERROR -- The value of bind variable :%s is longer than %d characters; nothing was run\n";
inline constexpr char kTooManyBinds[] =
    "ERROR -- At most %d bind variables can be given; nothing was run\n";
inline constexpr char kAlterTooLong[] =
    "ERROR -- An alter clause is longer than %d characters; nothing was run\n";
inline constexpr char kQueryNameTooLong[] =
    "ERROR -- The table name in query is too long for its statement; nothing was run\n";
inline constexpr char kWideCharset[] =
    "ERROR -- charset=%s is a UTF-16 character set, which the client cannot take for the "
    "program's texts; name an ASCII-based one such as AL32UTF8; nothing was run\n";
inline constexpr char kEmptyLogCommand[] =
    "ERROR -- log=- names no file: give a log file name, or no log for standard output; nothing "
    "was run\n";
inline constexpr char kCrackAppend[] =
    "ERROR -- crack cannot scramble output appended to a file (file=+...): the file could not be "
    "unscrambled; nothing was run\n";
inline constexpr char kCommandRestarted[] =
    "ERROR -- The output command %s would start again for every file of a split output (batch "
    "or size): put %%b into it; nothing was run\n";
inline constexpr char kEmptyRecord[] =
    "ERROR -- record= is empty: every row would run into the next; give a separator such as "
    "record=0x0a; nothing was run\n";
inline constexpr char kEmptyField[] =
    "ERROR -- field= is empty: the %d values of every row would run together; give a separator "
    "such as field=0x2c; nothing was written\n";
inline constexpr char kAppendSplit[] =
    "ERROR -- A split output (batch or size) cannot append all its files to %s, each with its "
    "own header line: put %%b into the name; nothing was run\n";
inline constexpr char kAmbiguousNames[] =
    "ERROR -- file=%s can give two files one name (%%p and %%b with only digits between them): "
    "put another character between them; nothing was run\n";
inline constexpr char kTranslationLengths[] =
    "ERROR -- sedf and sedt must list as many characters (%d and %d); nothing was run\n";
inline constexpr char kInsertNeedsTable[] =
    "ERROR -- INSERT statements need the name of their table: give table=NAME with a query of "
    "your own; nothing was run\n";
inline constexpr char kSameOutput[] = "ERROR -- %s and %s name the same file %s; nothing was run\n";
inline constexpr char kCannotOpenLog[] = "ERROR -- Cannot write to log file : %s\n";
inline constexpr char kLogLost[] =
    "ERROR -- %d messages could not be written to log file %s; they went to standard error\n";

// ---- One-shot modes
// -------------------------------------------------------------------------------

inline constexpr char kUncrackUnreadable[] = "ERROR -- Cannot read file : %s\n";
inline constexpr char kUncrackUnwritable[] =
    "ERROR -- Cannot write the unscrambled %s to standard output\n";

inline constexpr char kUserTooLongToScramble[] =
    "ERROR -- User string too long to scramble: at most %d characters can be given back\n";

}  // namespace rowflume::messages
