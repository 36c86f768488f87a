// Windows implementation of the platform module. Paths and commands are narrow text in the ANSI
// code page, handed to the -A functions unchanged.
#if defined(_WIN32)

#include "platform/platform.h"

// The C++ library's own configuration may have asked for NOMINMAX already.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>

#include "common/ascii.h"

namespace rowflume {

// ---- Threads -----------------------------------------------------------------------------------

struct ThreadHandle {
  HANDLE thread;
  void (*fn)(void*);
  void* arg;
};

namespace {

unsigned __stdcall ThreadEntry(void* handle) {
  auto* self = static_cast<ThreadHandle*>(handle);
  self->fn(self->arg);
  return 0;
}

}  // namespace

// _beginthreadex rather than CreateThread so that the C library sets up its per-thread state.
ThreadHandle* StartThread(void (*fn)(void*), void* arg) {
  auto* handle = new (std::nothrow) ThreadHandle{nullptr, fn, arg};
  if (handle == nullptr) return nullptr;
  uintptr_t thread = _beginthreadex(nullptr, 0, ThreadEntry, handle, 0, nullptr);
  if (thread == 0) {
    delete handle;
    return nullptr;
  }
  handle->thread = reinterpret_cast<HANDLE>(thread);
  return handle;
}

void JoinThread(ThreadHandle* thread) {
  if (thread == nullptr) return;
  WaitForSingleObject(thread->thread, INFINITE);
  CloseHandle(thread->thread);
  delete thread;
}

void PauseMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  Sleep(static_cast<DWORD>(milliseconds));
}

// ---- Digests ------------------------------------------------------------------------------------

namespace {

// The provider is opened once for the process, by whichever thread first asks (the initialisation
// of a local static is thread-safe), and never closed: every digest on every thread shares it.
BCRYPT_ALG_HANDLE Sha256Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      return BCRYPT_ALG_HANDLE{nullptr};
    }
    return opened;
  }();
  return provider;
}

}  // namespace

struct Sha256Digest {
  BCRYPT_HASH_HANDLE hash;
  bool failed;  // a piece could not be added: the digest would not be of every byte
};

// The system keeps the hash object's memory itself when given none.
Sha256Digest* Sha256Begin() {
  BCRYPT_ALG_HANDLE provider = Sha256Provider();
  if (provider == nullptr) return nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0))) {
    return nullptr;
  }
  auto* digest = new (std::nothrow) Sha256Digest{hash, false};
  if (digest == nullptr) BCryptDestroyHash(hash);
  return digest;
}

void Sha256Add(Sha256Digest* digest, const void* data, size_t count) {
  if (digest == nullptr) return;
  // BCryptHashData takes a 32-bit count, and a pointer to bytes it does not change.
  constexpr size_t kMostPerCall = size_t{1} << 30;
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (count > 0 && !digest->failed) {
    const ULONG piece = static_cast<ULONG>(count < kMostPerCall ? count : kMostPerCall);
    digest->failed = !BCRYPT_SUCCESS(BCryptHashData(digest->hash, bytes, piece, 0));
    bytes += piece;
    count -= piece;
  }
}

bool Sha256End(Sha256Digest* digest, unsigned char (&out)[kSha256Bytes]) {
  if (digest == nullptr) return false;
  const bool done =
      !digest->failed && BCRYPT_SUCCESS(BCryptFinishHash(digest->hash, out, kSha256Bytes, 0));
  BCryptDestroyHash(digest->hash);
  delete digest;
  return done;
}

// ---- Output streams ----------------------------------------------------------------------------

struct OutputStream {
  HANDLE handle;      // the file or the pipe's write end; null for a standard stream
  HANDLE process;     // the command reading the stream, or null
  DWORD standard_id;  // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE for a standard stream, else 0
  // Every byte WriteAll took; atomic, as the program's message streams are shared by the
  // threads of a parallel run.
  std::atomic<uint64_t> bytes;
  Sha256Digest* digest;    // of those bytes, after DigestStream
  std::string final_path;  // kReplaceOnClose: the name the temporary file is put in place of
  std::string temp_path;   // ... and that file; both empty otherwise
};

namespace {

// Other processes may read, rename or delete an output file while it is being written, as they
// may on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A standard stream is looked up at every write, as POSIX writes to whatever descriptor 1 is at
// the time: a caller may redirect it after taking the stream. The C library's _dup2 on 0 to 2
// updates the process's standard handles, so this follows redirections made either way.
HANDLE TargetHandle(const OutputStream* stream) {
  return stream->standard_id != 0 ? GetStdHandle(stream->standard_id) : stream->handle;
}

// An inheritable duplicate of one of our standard handles for a child, or null when there is
// none to give: a child may only inherit handles marked so, and the duplicate leaves our own
// handle's flag as it was.
HANDLE InheritableCopy(DWORD standard_id) {
  HANDLE own = GetStdHandle(standard_id);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

void CloseIfOpen(HANDLE handle) {
  if (handle != nullptr) CloseHandle(handle);
}

// The command processor's command line: "COMSPEC" /s /c "command". With /s, cmd removes only the
// outer pair of quotes and runs the rest exactly as written, whatever quotes it holds itself.
// Without COMSPEC the system directory's cmd.exe is named in full, so that no cmd.exe in the
// current directory is ever run instead. Null when out of memory.
char* CommandProcessorLine(const char* command) {
  char system_shell[MAX_PATH + 16];
  const char* shell = std::getenv("COMSPEC");
  if (shell == nullptr || shell[0] == '\0') {
    UINT length = GetSystemDirectoryA(system_shell, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      std::snprintf(system_shell, sizeof system_shell, "cmd.exe");
    } else {
      std::snprintf(system_shell + length, sizeof system_shell - length, "\\cmd.exe");
    }
    shell = system_shell;
  }
  static constexpr char kBeforeShell[] = "\"";
  static constexpr char kBeforeCommand[] = "\" /s /c \"";
  static constexpr char kAfterCommand[] = "\"";
  size_t size = sizeof kBeforeShell + strlen(shell) + sizeof kBeforeCommand + strlen(command) +
                sizeof kAfterCommand;
  auto* line = new (std::nothrow) char[size];
  if (line == nullptr) return nullptr;
  std::snprintf(line, size, "%s%s%s%s%s", kBeforeShell, shell, kBeforeCommand, command,
                kAfterCommand);
  return line;
}

// Starts the command line with exactly the given standard handles inherited. Handles made
// inheritable by other threads at the same moment (another command's pipe, say) stay out of the
// child: a command holding a second copy of another's pipe would keep that one from ever seeing
// the end of its input. Null when the process could not be started.
HANDLE StartWithHandles(char* command_line, HANDLE input, HANDLE output, HANDLE error) {
  HANDLE inherited[3];
  DWORD inherited_count = 0;
  for (HANDLE handle : {input, output, error}) {
    if (handle != nullptr) inherited[inherited_count++] = handle;
  }
  SIZE_T attribute_bytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attribute_bytes);
  auto* attributes =
      static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(HeapAlloc(GetProcessHeap(), 0, attribute_bytes));
  if (attributes == nullptr) return nullptr;
  HANDLE process = nullptr;
  if (InitializeProcThreadAttributeList(attributes, 1, 0, &attribute_bytes)) {
    if (UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  inherited_count * sizeof(HANDLE), nullptr, nullptr)) {
      STARTUPINFOEXA startup = {};
      startup.StartupInfo.cb = sizeof startup;
      startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
      startup.StartupInfo.hStdInput = input;
      startup.StartupInfo.hStdOutput = output;
      startup.StartupInfo.hStdError = error;
      startup.lpAttributeList = attributes;
      PROCESS_INFORMATION started = {};
      if (CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
                         EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                         &started)) {
        CloseHandle(started.hThread);
        process = started.hProcess;
      }
    }
    DeleteProcThreadAttributeList(attributes);
  }
  HeapFree(GetProcessHeap(), 0, attributes);
  return process;
}

bool IsFolderSeparator(char c) {
  return c == '/' || c == '\\';
}

// Where the file's own name starts: after the last separator, or after the drive of a
// drive-relative name ("C:emp.csv"), whose temporary file must stay on that drive and folder.
size_t FileNameStart(const char* path) {
  size_t start = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
  for (size_t at = start; path[at] != '\0'; ++at) {
    if (IsFolderSeparator(path[at])) start = at + 1;
  }
  return start;
}

// Whether the system takes the name for a device: the device namespaces, and the DOS device
// names in any folder, in any letter case, with any extension or stream, with spaces before the
// extension. A name taken for a device that is none only loses the temporary file.
bool NamesDevice(const char* path) {
  // \\.\ and \\?\ (either separator in each place), and \??\, the system's own prefix.
  if (IsFolderSeparator(path[0]) && IsFolderSeparator(path[1]) &&
      (path[2] == '.' || path[2] == '?') && IsFolderSeparator(path[3])) {
    return true;
  }
  if (path[0] == '\\' && path[1] == '?' && path[2] == '?' && path[3] == '\\') return true;
  const char* name = path + FileNameStart(path);
  size_t stem = std::strcspn(name, ".:");
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  const std::string_view base(name, stem);
  for (std::string_view device : {"NUL", "CON", "PRN", "AUX", "CONIN$", "CONOUT$"}) {
    if (EqualIgnoringCase(base, device)) return true;
  }
  return base.size() == 4 &&
         (EqualIgnoringCase(base.substr(0, 3), "COM") ||
          EqualIgnoringCase(base.substr(0, 3), "LPT")) &&
         base[3] >= '1' && base[3] <= '9';
}

// Whether a kReplaceOnClose name may be written through a temporary file: nothing of that name
// yet, or a plain file on a disk with no other name. A name with a stream (":") is left alone,
// as the temporary name would be a stream of another file. A read-only file is written directly
// so that it fails at the open, as kTruncate does, not at the rename after everything is written.
bool ReplaceableByRename(const char* path) {
  if (NamesDevice(path) || std::strchr(path + FileNameStart(path), ':') != nullptr) return false;
  // The link itself is looked at, not what it points to; backup semantics opens a folder too.
  HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                              FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;
  BY_HANDLE_FILE_INFORMATION info;
  const bool plain = GetFileType(file) == FILE_TYPE_DISK &&
                     GetFileInformationByHandle(file, &info) &&
                     (info.dwFileAttributes & kNotPlain) == 0 && info.nNumberOfLinks == 1;
  CloseHandle(file);
  return plain;
}

}  // namespace

void TemporaryFileName(const char* path, char* out, size_t capacity) {
  const int folder = static_cast<int>(FileNameStart(path));
  std::snprintf(out, capacity, "%.*s.%s.part", folder, path, path + folder);
}

// The handle is never inherited, as O_CLOEXEC on POSIX. Append is asked for as append-only
// access, which makes the system put every write at the end of the file even while other
// processes append to it too.
OutputStream* OpenFileStream(const char* path, OpenMode mode) {
  bool append = (mode == OpenMode::kAppend);
  std::string temp;
  if (mode == OpenMode::kReplaceOnClose && ReplaceableByRename(path)) {
    temp.resize(std::strlen(path) + 8);
    TemporaryFileName(path, temp.data(), temp.size());
    temp.resize(std::strlen(temp.c_str()));
  }
  HANDLE file =
      CreateFileA(temp.empty() ? path : temp.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                  kShareAll, nullptr, mode == OpenMode::kCreateNew ? CREATE_NEW : OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  // Truncated after opening rather than with CREATE_ALWAYS, which refuses hidden files and resets
  // attributes; a device such as NUL has no end to set and is written as it is.
  if (!append && GetFileType(file) == FILE_TYPE_DISK && !SetEndOfFile(file)) {
    CloseHandle(file);
    if (!temp.empty()) DeleteFileA(temp.c_str());
    return nullptr;
  }
  auto* stream = new (std::nothrow) OutputStream{file, nullptr, 0, 0, nullptr, {}, {}};
  if (stream == nullptr) {
    CloseHandle(file);
    if (!temp.empty()) DeleteFileA(temp.c_str());
    return nullptr;
  }
  if (!temp.empty()) {
    stream->final_path = path;
    stream->temp_path = std::move(temp);
  }
  return stream;
}

bool DigestStream(OutputStream* stream) {
  if (stream == nullptr) return false;
  if (stream->digest == nullptr) stream->digest = Sha256Begin();
  return stream->digest != nullptr;
}

// Only the pipe's read end goes to the command; our write end is never inheritable, or the
// command (and any started beside it) would hold it open and wait for input forever.
OutputStream* OpenCommandStream(const char* command) {
  char* command_line = CommandProcessorLine(command);
  if (command_line == nullptr) return nullptr;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, nullptr, 0)) {
    delete[] command_line;
    return nullptr;
  }
  HANDLE process = nullptr;
  if (SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
    HANDLE output = InheritableCopy(STD_OUTPUT_HANDLE);
    HANDLE error = InheritableCopy(STD_ERROR_HANDLE);
    process = StartWithHandles(command_line, read_end, output, error);
    CloseIfOpen(output);
    CloseIfOpen(error);
  }
  CloseHandle(read_end);
  delete[] command_line;
  if (process == nullptr) {
    CloseHandle(write_end);
    return nullptr;
  }
  auto* stream = new (std::nothrow) OutputStream{write_end, process, 0, 0, nullptr, {}, {}};
  if (stream == nullptr) {
    CloseHandle(write_end);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
  }
  return stream;
}

// Writes go to the system handle, below the C library, so no line feed ever becomes CR LF
// whatever mode the C library's stdout is in; that mode is left to the program.
OutputStream* StdoutStream() {
  fflush(stdout);  // keep order with anything printed through the C library
  return new (std::nothrow) OutputStream{nullptr, nullptr, STD_OUTPUT_HANDLE, 0, nullptr, {}, {}};
}

OutputStream* StderrStream() {
  static OutputStream stream{nullptr, nullptr, STD_ERROR_HANDLE, 0, nullptr, {}, {}};
  return &stream;
}

// Windows has no signal for a reader that has gone: the write fails with ERROR_BROKEN_PIPE or
// ERROR_NO_DATA, and any failure ends the loop the same way.
bool WriteAll(OutputStream* stream, const void* data, size_t count) {
  if (stream == nullptr) return false;
  HANDLE target = TargetHandle(stream);
  if (target == nullptr || target == INVALID_HANDLE_VALUE) return false;
  const char* bytes = static_cast<const char*>(data);
  stream->bytes.fetch_add(count, std::memory_order_relaxed);
  Sha256Add(stream->digest, data, count);
  // One WriteFile takes a 32-bit count; a larger block goes in several.
  constexpr size_t kMostPerWrite = size_t{1} << 30;
  while (count > 0) {
    DWORD chunk = static_cast<DWORD>(count < kMostPerWrite ? count : kMostPerWrite);
    DWORD written = 0;
    // A write that succeeds without taking a byte would loop forever.
    if (!WriteFile(target, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    count -= written;
  }
  return true;
}

namespace {

// Closes the handle and waits for the command: 0, or -1 when either failed.
int CloseHandles(OutputStream* stream) {
  if (stream->standard_id != 0) return 0;  // nothing is buffered on our side; it stays open
  int result = 0;
  if (!CloseHandle(stream->handle)) result = -1;
  if (stream->process != nullptr) {
    DWORD exit_code = 1;
    if (WaitForSingleObject(stream->process, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(stream->process, &exit_code) || exit_code != 0) {
      result = -1;
    }
    CloseHandle(stream->process);
  }
  return result;
}

// Windows refuses to replace a file that any process has open, even only to read its
// attributes and with every sharing allowed: an indexer, a virus scanner, a user's viewer, or
// another thread of ours checking that an output is not the manifest. Those opens are brief,
// so the move is tried again for up to two seconds before it counts as failed.
bool MoveReplacing(const char* from, const char* to, DWORD flags) {
  constexpr int kMostWaitMilliseconds = 2000;
  int waited = 0;
  for (int pause = 1;; pause = pause < 64 ? pause * 2 : 64) {
    if (MoveFileExA(from, to, flags | MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                      error == ERROR_LOCK_VIOLATION;
    // A folder under that name is refused with the same code, and is there to stay.
    const DWORD target = GetFileAttributesA(to);
    const bool folder = target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_DIRECTORY);
    if (!held || folder || waited >= kMostWaitMilliseconds) return false;
    Sleep(static_cast<DWORD>(pause));
    waited += pause;
  }
}

// Gives what the stream wrote and releases it.
void ReleaseStream(OutputStream* stream, StreamTally* tally) {
  unsigned char ignored[kSha256Bytes];
  const bool digested = stream->digest != nullptr &&
                        Sha256End(stream->digest, tally != nullptr ? tally->sha256 : ignored);
  if (tally != nullptr) {
    tally->bytes = stream->bytes.load(std::memory_order_relaxed);
    tally->digested = digested;
  }
  delete stream;
}

}  // namespace

// Write-through: the move is on the disk when the close reports success, as the file's name
// is what tells a reader the file is whole.
int CloseStream(OutputStream* stream, StreamTally* tally) {
  if (tally != nullptr) *tally = StreamTally{};
  if (stream == nullptr) return -1;
  int result = CloseHandles(stream);
  if (!stream->temp_path.empty()) {
    if (result == 0 && !MoveReplacing(stream->temp_path.c_str(), stream->final_path.c_str(),
                                      MOVEFILE_WRITE_THROUGH)) {
      result = -1;
    }
    if (result != 0) DeleteFileA(stream->temp_path.c_str());
  }
  ReleaseStream(stream, tally);
  return result;
}

bool DiscardStream(OutputStream* stream) {
  if (stream == nullptr) return false;
  CloseHandles(stream);
  const bool temporary = !stream->temp_path.empty();
  if (temporary) DeleteFileA(stream->temp_path.c_str());
  ReleaseStream(stream, nullptr);
  return temporary;
}

void UseBinaryStandardStreams() {
  // Input too: the unscramble tool reads scrambled bytes from standard input, which text mode
  // would cut at the first Ctrl-Z and strip of every CR before a line feed.
  for (std::FILE* standard : {stdin, stdout, stderr}) {
    std::fflush(standard);
    // A process started without the stream has no descriptor for it (-2) and nothing to set.
    int fd = _fileno(standard);
    if (fd >= 0) _setmode(fd, _O_BINARY);
  }
}

// ---- Files and directories ---------------------------------------------------------------------

int MakeDirectory(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return 0;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return 0;
    }
  }
  return -1;
}

int MakeNewDirectory(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return kDirectoryMade;
  return GetLastError() == ERROR_ALREADY_EXISTS ? kDirectoryExists : -1;
}

int RemoveRegularFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return -1;
  }
  return DeleteFileA(path) ? 0 : -1;
}

int RemoveEmptyDirectory(const char* path) {
  return RemoveDirectoryA(path) ? 0 : -1;
}

bool ListDirectory(const char* path, void (*visit)(void* context, const char* name),
                   void* context) {
  char pattern[MAX_PATH + 3];
  if (std::snprintf(pattern, sizeof pattern, "%s\\*", path) >= static_cast<int>(sizeof pattern)) {
    return false;
  }
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) {
      continue;
    }
    visit(context, entry.cFileName);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  return true;
}

int64_t FileBytes(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return static_cast<int64_t>((ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

bool PathExists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int RenameReplacing(const char* from, const char* to) {
  return MoveReplacing(from, to, 0) ? 0 : -1;
}

namespace {

// What names a file uniquely on a machine: the volume and the file's number on it.
struct FileIdentity {
  ULONGLONG volume;
  BYTE number[16];
};

// ReFS numbers files with 128 bits, of which the older 64-bit index holds only a part; the
// 128-bit form is asked for first and the 64-bit one is what systems without it give.
bool IdentifyFile(const char* path, FileIdentity* identity) {
  // Backup semantics lets a directory be opened too; reading attributes needs no other right.
  HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  *identity = FileIdentity{};
  FILE_ID_INFO long_id;
  BY_HANDLE_FILE_INFORMATION short_id;
  bool known = false;
  if (GetFileInformationByHandleEx(file, FileIdInfo, &long_id, sizeof long_id)) {
    identity->volume = long_id.VolumeSerialNumber;
    static_assert(sizeof identity->number == sizeof long_id.FileId.Identifier);
    memcpy(identity->number, long_id.FileId.Identifier, sizeof identity->number);
    known = true;
  } else if (GetFileInformationByHandle(file, &short_id)) {
    identity->volume = short_id.dwVolumeSerialNumber;
    ULONGLONG index = (ULONGLONG{short_id.nFileIndexHigh} << 32) | short_id.nFileIndexLow;
    memcpy(identity->number, &index, sizeof index);
    known = true;
  }
  CloseHandle(file);
  return known;
}

}  // namespace

bool SameExistingFile(const char* first, const char* second) {
  FileIdentity one;
  FileIdentity other;
  return IdentifyFile(first, &one) && IdentifyFile(second, &other) && one.volume == other.volume &&
         memcmp(one.number, other.number, sizeof one.number) == 0;
}

// ---- Dynamic loading ---------------------------------------------------------------------------

// The loader's search order is the system's own (the program's directory, the system
// directories, then PATH). A missing library or one of its dependencies would otherwise open a
// message box and wait for a click; the error mode is set for this thread only, since other
// threads may load at the same time.
void* OpenSharedLibrary(const char* name, char* error, size_t error_size) {
  DWORD previous_mode = 0;
  bool quiet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_mode);
  HMODULE library = LoadLibraryA(name);
  DWORD code = GetLastError();  // before restoring the mode can change it
  if (quiet) SetThreadErrorMode(previous_mode, nullptr);
  if (library == nullptr && error != nullptr && error_size > 0) {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    // The system's text ends in a full stop and CR LF; callers put it inside their own sentence.
    while (length > 0 && std::strchr("\r\n. ", text[length - 1]) != nullptr) --length;
    if (length == 0) {
      std::snprintf(error, error_size, "unknown loader error (error %lu)", code);
    } else {
      std::snprintf(error, error_size, "%.*s (error %lu)", static_cast<int>(length), text, code);
    }
  }
  return library;
}

void* FindSharedSymbol(void* library, const char* symbol) {
  // FARPROC and an object pointer share a representation on Windows; the cast goes through an
  // integer because the language keeps the two kinds apart.
  return reinterpret_cast<void*>(
      reinterpret_cast<uintptr_t>(GetProcAddress(static_cast<HMODULE>(library), symbol)));
}

void CloseSharedLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

char DirectorySeparator() {
  return '\\';
}

// ---- Environment --------------------------------------------------------------------------------

const char* EnvironmentValue(const char* name) {
  return std::getenv(name);
}

// ---- The process's command line -----------------------------------------------------------------

// Other processes read the command line Windows keeps for the process, which the arguments are
// copies of: it is not changed.
bool ShowCommandLineAs(int /*argc*/, char** /*argv*/, const char* /*title*/) {
  return false;
}

// ---- Clock -------------------------------------------------------------------------------------

int64_t CurrentTimeSeconds() {
  return static_cast<int64_t>(time(nullptr));
}

LocalTime CurrentLocalTime() {
  time_t now = time(nullptr);
  struct tm parts = {};
  localtime_s(&parts, &now);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,     parts.tm_wday};
}

}  // namespace rowflume

#endif  // defined(_WIN32)
