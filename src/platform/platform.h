// The one place where the program meets the operating system: threads, pauses, output streams
// to files and commands, directories, dynamic loading, the environment and the clock. Everything
// else is portable C++ and calls only these functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rowflume {

// ---- Threads -----------------------------------------------------------------------------------

struct ThreadHandle;  // opaque

// Starts fn(arg) on a new thread; null when the thread cannot be started.
ThreadHandle* StartThread(void (*fn)(void*), void* arg);
// Waits without time limit for the thread to end and releases the handle.
void JoinThread(ThreadHandle* thread);
void PauseMilliseconds(int milliseconds);
// Waits tenths times 100 milliseconds (`sleep` is given in tenths of a second).
inline void PauseTenths(int tenths) {
  for (int tenth = 0; tenth < tenths; ++tenth) PauseMilliseconds(100);
}

// ---- Output streams ----------------------------------------------------------------------------

// A byte stream written with plain system writes: a file, the standard input of a command, or
// standard output. Writes loop over short writes and retry after interrupts; a broken pipe is a
// failed write, never a signal that ends the program.
struct OutputStream;  // opaque

// kCreateNew makes a file that does not exist yet and fails on any that does, so that what it
// writes never replaces another file. kReplaceOnClose writes a plain file under its temporary
// name (TemporaryFileName) and puts it in place of the named one only when CloseStream succeeds,
// so that no file under the name is ever partly written; when the name is something else than a
// plain file or nothing (a device, a link, a file with other names), it is written as kTruncate
// writes it, as a rename would put a file in place of the device or the link.
enum class OpenMode { kTruncate, kAppend, kCreateNew, kReplaceOnClose };

OutputStream* OpenFileStream(const char* path, OpenMode mode);
// Runs the command through the platform's command processor with its standard input as stream.
OutputStream* OpenCommandStream(const char* command);
// The process's standard output; closing it only flushes.
OutputStream* StdoutStream();
// The process's standard error, for what cannot go where messages normally go; one object for
// the whole process, never to be closed.
OutputStream* StderrStream();

// Makes the program's standard input, output and error carry bytes unchanged; on Windows the C
// library would otherwise turn every line feed into CR LF, and read CR LF as a line feed. Called
// once by the program at start, never by the library, whose host keeps its streams as it set them.
void UseBinaryStandardStreams();

// True when every byte was written.
bool WriteAll(OutputStream* stream, const void* data, size_t count);
// What a stream wrote, given by CloseStream: every byte WriteAll took, and their SHA-256 when the
// stream keeps a digest (DigestStream).
struct StreamTally {
  uint64_t bytes = 0;
  bool digested = false;
  unsigned char sha256[32] = {};
};

// From now on the stream keeps the SHA-256 of the bytes it writes; false when no digest can be
// made (the stream then writes on without one).
bool DigestStream(OutputStream* stream);

// Closes the stream (a command is waited for). 0 on success; non-zero when the close failed or
// the command failed or was killed, or a kReplaceOnClose file could not be put in place (its
// temporary file is then removed). The stream is released in every case; tally, when given,
// receives what it wrote.
int CloseStream(OutputStream* stream, StreamTally* tally = nullptr);
// Closes a stream whose output is not to be kept: a kReplaceOnClose file's temporary file is
// removed and the named file left as it was; any other stream is closed as CloseStream does.
// True when a temporary file was removed.
bool DiscardStream(OutputStream* stream);

// The name under which a kReplaceOnClose file of that name is written until it is whole: in the
// same folder, "." before the file's own name and ".part" after it (".emp.csv.part").
void TemporaryFileName(const char* path, char* out, size_t capacity);

#if defined(ROWFLUME_FAULT_HOOK) && !defined(_WIN32)
// The system calls of the output streams, for tests that make them fail; only the builds for
// tests (ROWFLUME_FAULT_HOOK) can replace them, the shipped ones call the system directly.
// open takes the flags and mode of open(2); write and close are those of the system. A test
// changes entries only while no run is active (parallel workers read the table without a lock)
// and puts DefaultSystemCalls() back when it is done.
struct SystemCalls {
  int (*open)(const char* path, int flags, unsigned mode);
  long (*write)(int fd, const void* data, size_t count);
  int (*close)(int fd);
};
SystemCalls DefaultSystemCalls();
SystemCalls* ReplaceableSystemCalls();
#endif

// ---- Files and directories ---------------------------------------------------------------------

// Creates one directory level; 0 when it was made or already exists.
int MakeDirectory(const char* path);
// Creates one directory level that must not exist yet: kDirectoryMade, kDirectoryExists when
// anything of that name exists (another process may have made it a moment before), or -1.
constexpr int kDirectoryMade = 0;
constexpr int kDirectoryExists = 1;
int MakeNewDirectory(const char* path);
// Removes a plain file (0 on success), never a device, pipe or link that an output name may
// also name; a directory only when it is empty.
int RemoveRegularFile(const char* path);
int RemoveEmptyDirectory(const char* path);
// Calls visit(context, name) for every entry of the directory but "." and "..", in no set order.
// False when the directory cannot be read.
bool ListDirectory(const char* path, void (*visit)(void* context, const char* name), void* context);
// Bytes of the file at path, or -1 when there is none (or it cannot be looked at).
int64_t FileBytes(const char* path);
// True when anything of that name exists (a file, a folder, a link, even a broken one).
bool PathExists(const char* path);
// Puts the file from in place of to, replacing a file of that name in one step; 0 on success.
int RenameReplacing(const char* from, const char* to);
// True when both paths exist and name one file (through links or different spellings).
bool SameExistingFile(const char* first, const char* second);

// ---- Digests ------------------------------------------------------------------------------------

// SHA-256 through the system's crypto library, which uses the processor's SHA instructions where
// it has them.
constexpr int kSha256Bytes = 32;
struct Sha256Digest;  // opaque

// A new digest; null when none can be made.
Sha256Digest* Sha256Begin();
void Sha256Add(Sha256Digest* digest, const void* data, size_t count);
// Gives the digest of everything added and releases it; false when it could not be finished.
bool Sha256End(Sha256Digest* digest, unsigned char (&out)[kSha256Bytes]);

// ---- Dynamic loading ---------------------------------------------------------------------------

// Loads a shared library by file name or path; null on failure with the loader's text in error.
void* OpenSharedLibrary(const char* name, char* error, size_t error_size);
void* FindSharedSymbol(void* library, const char* symbol);
void CloseSharedLibrary(void* library);
// The directory separator of the platform.
char DirectorySeparator();

// ---- Environment --------------------------------------------------------------------------------

// The value of the environment variable, or null when it is not set. The text stays valid while
// the environment is not changed; the program never changes it.
const char* EnvironmentValue(const char* name);

// ---- The process's command line -----------------------------------------------------------------

// Makes title what other processes read as this process's command line (ps, /proc/PID/cmdline),
// in place of the arguments argv[0..argc-1], whose texts it overwrites and which must not be
// read afterwards. Done on Linux only, where the kernel shows the argument area: when the
// arguments lie end to end in it, the area receives title, cut when needed to leave room, then
// NUL bytes, and a last byte that is not NUL, by which the kernel shows it only up to its first
// NUL. True when done; false, argv untouched, where it cannot be (elsewhere, and on Windows, whose
// process command line is not changed).
bool ShowCommandLineAs(int argc, char** argv, const char* title);

// ---- Clock -------------------------------------------------------------------------------------

struct LocalTime {
  int year;     // e.g. 2013
  int month;    // 1 to 12
  int day;      // 1 to 31
  int hour;     // 0 to 23
  int minute;   // 0 to 59
  int second;   // 0 to 60
  int weekday;  // 0 Sunday to 6
};

int64_t CurrentTimeSeconds();
LocalTime CurrentLocalTime();

}  // namespace rowflume
