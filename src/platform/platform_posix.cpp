// POSIX implementation of the platform module.
#if !defined(_WIN32)

#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// The digest functions of OpenSSL 1.x, which 3.x keeps: the same SHA instructions as its EVP
// interface, without the 2 MiB its provider tables take when first used.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

extern char** environ;

namespace rowflume {

// ---- Threads -----------------------------------------------------------------------------------

struct ThreadHandle {
  std::thread thread;
};

ThreadHandle* StartThread(void (*fn)(void*), void* arg) {
  auto* handle = new (std::nothrow) ThreadHandle;
  if (handle == nullptr) return nullptr;
  try {
    handle->thread = std::thread(fn, arg);
  } catch (...) {
    delete handle;
    return nullptr;
  }
  return handle;
}

void JoinThread(ThreadHandle* thread) {
  if (thread == nullptr) return;
  if (thread->thread.joinable()) thread->thread.join();
  delete thread;
}

void PauseMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  struct timespec wait = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

// ---- Output streams ----------------------------------------------------------------------------

namespace {

// open(2) is variadic; the table holds a plain function.
int OpenPath(const char* path, int flags, unsigned mode) {
  return open(path, flags, static_cast<mode_t>(mode));
}
long WriteBytes(int fd, const void* data, size_t count) {
  return static_cast<long>(write(fd, data, count));
}

// Every open, write and close of an output stream goes through this table. Constant in the
// shipped builds, so that each call is a direct one.
#if defined(ROWFLUME_FAULT_HOOK)
SystemCalls g_system_calls = {&OpenPath, &WriteBytes, &close};
#else
struct SystemCallTable {
  static int open(const char* path, int flags, unsigned mode) {
    return OpenPath(path, flags, mode);
  }
  static long write(int fd, const void* data, size_t count) { return WriteBytes(fd, data, count); }
  static int close(int fd) { return ::close(fd); }
};
constexpr SystemCallTable g_system_calls;
#endif

}  // namespace

#if defined(ROWFLUME_FAULT_HOOK)
SystemCalls DefaultSystemCalls() {
  return SystemCalls{&OpenPath, &WriteBytes, &close};
}
SystemCalls* ReplaceableSystemCalls() {
  return &g_system_calls;
}
#endif

// ---- Digests ------------------------------------------------------------------------------------

struct Sha256Digest {
  SHA256_CTX context;
};

Sha256Digest* Sha256Begin() {
  auto* digest = new (std::nothrow) Sha256Digest;
  if (digest != nullptr && SHA256_Init(&digest->context) != 1) {
    delete digest;
    return nullptr;
  }
  return digest;
}

void Sha256Add(Sha256Digest* digest, const void* data, size_t count) {
  if (digest != nullptr && count > 0) SHA256_Update(&digest->context, data, count);
}

bool Sha256End(Sha256Digest* digest, unsigned char (&out)[kSha256Bytes]) {
  if (digest == nullptr) return false;
  static_assert(kSha256Bytes == SHA256_DIGEST_LENGTH, "a SHA-256 digest has 32 bytes");
  const bool done = SHA256_Final(out, &digest->context) == 1;
  delete digest;
  return done;
}

struct OutputStream {
  int fd;
  pid_t child;     // the command reading the stream, or -1
  bool is_stdout;  // standard output is never closed
  // Every byte WriteAll took; atomic, as the program's message streams are shared by the
  // threads of a parallel run.
  std::atomic<uint64_t> bytes;
  Sha256Digest* digest;    // of those bytes, after DigestStream
  std::string final_path;  // kReplaceOnClose: the name the temporary file is put in place of
  std::string temp_path;   // ... and that file; both empty otherwise
};

namespace {

// Whether a kReplaceOnClose name may be written through a temporary file: nothing of that name
// yet, or a plain file with no other name.
bool ReplaceableByRename(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode) && info.st_nlink == 1;
}

int OpenDescriptor(const char* path, int flags) {
  int fd;
  do {
    fd = g_system_calls.open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

void TemporaryFileName(const char* path, char* out, size_t capacity) {
  const char* slash = std::strrchr(path, '/');
  const int folder = slash != nullptr ? static_cast<int>(slash - path + 1) : 0;
  std::snprintf(out, capacity, "%.*s.%s.part", folder, path, path + folder);
}

OutputStream* OpenFileStream(const char* path, OpenMode mode) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (mode == OpenMode::kAppend) flags |= O_APPEND;
  if (mode == OpenMode::kTruncate || mode == OpenMode::kReplaceOnClose) flags |= O_TRUNC;
  if (mode == OpenMode::kCreateNew) flags |= O_EXCL;
  std::string temp;
  if (mode == OpenMode::kReplaceOnClose && ReplaceableByRename(path)) {
    temp.resize(std::strlen(path) + 8);
    TemporaryFileName(path, temp.data(), temp.size());
    temp.resize(std::strlen(temp.c_str()));
  }
  int fd = OpenDescriptor(temp.empty() ? path : temp.c_str(), flags);
  if (fd < 0) return nullptr;
  auto* stream = new (std::nothrow) OutputStream{fd, -1, false, 0, nullptr, {}, {}};
  if (stream == nullptr) {
    g_system_calls.close(fd);
    if (!temp.empty()) unlink(temp.c_str());
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

OutputStream* OpenCommandStream(const char* command) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return nullptr;
  fcntl(pipe_fds[1], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  // The command must not inherit an ignored SIGPIPE from us.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  char shell[] = "/bin/sh";
  char dash_c[] = "-c";
  char* argv[] = {shell, dash_c, const_cast<char*>(command), nullptr};
  pid_t child = -1;
  int spawned = posix_spawn(&child, "/bin/sh", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pipe_fds[0]);
  if (spawned != 0) {
    close(pipe_fds[1]);
    return nullptr;
  }
  auto* stream = new (std::nothrow) OutputStream{pipe_fds[1], child, false, 0, nullptr, {}, {}};
  if (stream == nullptr) {
    close(pipe_fds[1]);
    waitpid(child, nullptr, 0);
  }
  return stream;
}

OutputStream* StdoutStream() {
  fflush(stdout);  // keep order with anything printed through the C library
  return new (std::nothrow) OutputStream{STDOUT_FILENO, -1, true, 0, nullptr, {}, {}};
}

OutputStream* StderrStream() {
  static OutputStream stream{STDERR_FILENO, -1, true, 0, nullptr, {}, {}};
  return &stream;
}

// A write into a pipe whose reader has gone raises SIGPIPE. It is blocked for this thread while
// writing and a pending one is taken back afterwards, so the write simply fails with EPIPE even
// when the program is a library inside somebody else's process.
bool WriteAll(OutputStream* stream, const void* data, size_t count) {
  if (stream == nullptr) return false;
  sigset_t pipe_only, previous;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  const char* bytes = static_cast<const char*>(data);
  stream->bytes.fetch_add(count, std::memory_order_relaxed);
  Sha256Add(stream->digest, data, count);
  bool ok = true;
  bool broken_pipe = false;
  while (count > 0) {
    long written = g_system_calls.write(stream->fd, bytes, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      broken_pipe = (errno == EPIPE);
      ok = false;
      break;
    }
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  if (broken_pipe && !sigismember(&previous, SIGPIPE)) {
    struct timespec no_wait = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

namespace {

// Closes the descriptor and waits for the command: 0, or -1 when either failed.
int CloseDescriptor(OutputStream* stream) {
  if (stream->is_stdout) return 0;  // nothing is buffered on our side; standard output stays open
  int result = 0;
  if (g_system_calls.close(stream->fd) != 0 && errno != EINTR) result = -1;
  if (stream->child > 0) {
    int status = 0;
    pid_t waited;
    do {
      waited = waitpid(stream->child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) result = -1;
  }
  return result;
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

int CloseStream(OutputStream* stream, StreamTally* tally) {
  if (tally != nullptr) *tally = StreamTally{};
  if (stream == nullptr) return -1;
  int result = CloseDescriptor(stream);
  if (!stream->temp_path.empty()) {
    if (result == 0 && rename(stream->temp_path.c_str(), stream->final_path.c_str()) != 0) {
      result = -1;
    }
    if (result != 0) unlink(stream->temp_path.c_str());
  }
  ReleaseStream(stream, tally);
  return result;
}

bool DiscardStream(OutputStream* stream) {
  if (stream == nullptr) return false;
  CloseDescriptor(stream);
  const bool temporary = !stream->temp_path.empty();
  if (temporary) unlink(stream->temp_path.c_str());
  ReleaseStream(stream, nullptr);
  return temporary;
}

// POSIX streams carry bytes as they are.
void UseBinaryStandardStreams() {}

// ---- Files and directories ---------------------------------------------------------------------

int MakeDirectory(const char* path) {
  if (mkdir(path, 0777) == 0) return 0;
  if (errno == EEXIST) {
    struct stat info;
    if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) return 0;
  }
  return -1;
}

int MakeNewDirectory(const char* path) {
  if (mkdir(path, 0777) == 0) return kDirectoryMade;
  return errno == EEXIST ? kDirectoryExists : -1;
}

int RemoveRegularFile(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return unlink(path) == 0 ? 0 : -1;
}

int RemoveEmptyDirectory(const char* path) {
  return rmdir(path) == 0 ? 0 : -1;
}

bool ListDirectory(const char* path, void (*visit)(void* context, const char* name),
                   void* context) {
  DIR* directory = opendir(path);
  if (directory == nullptr) return false;
  while (const struct dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    visit(context, entry->d_name);
  }
  closedir(directory);
  return true;
}

int64_t FileBytes(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

bool PathExists(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0;
}

int RenameReplacing(const char* from, const char* to) {
  return rename(from, to) == 0 ? 0 : -1;
}

bool SameExistingFile(const char* first, const char* second) {
  struct stat one;
  struct stat other;
  return stat(first, &one) == 0 && stat(second, &other) == 0 && one.st_dev == other.st_dev &&
         one.st_ino == other.st_ino;
}

// ---- Dynamic loading ---------------------------------------------------------------------------

void* OpenSharedLibrary(const char* name, char* error, size_t error_size) {
  void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr && error != nullptr && error_size > 0) {
    const char* text = dlerror();
    std::snprintf(error, error_size, "%s", text != nullptr ? text : "unknown loader error");
  }
  return library;
}

void* FindSharedSymbol(void* library, const char* symbol) {
  return dlsym(library, symbol);
}

void CloseSharedLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

char DirectorySeparator() {
  return '/';
}

// ---- Environment --------------------------------------------------------------------------------

const char* EnvironmentValue(const char* name) {
  return std::getenv(name);
}

// ---- The process's command line -----------------------------------------------------------------

bool ShowCommandLineAs(int argc, char** argv, const char* title) {
#if defined(__linux__)
  if (argc < 1 || argv[0] == nullptr) return false;
  // The area the kernel reports runs from the first argument to the NUL after the last one.
  char* const area = argv[0];
  char* end = area;
  for (int arg_idx = 0; arg_idx < argc; ++arg_idx) {
    if (argv[arg_idx] != end) return false;
    end += std::strlen(end) + 1;
  }
  const size_t area_bytes = static_cast<size_t>(end - area);
  if (area_bytes < 2) return false;
  // The title's NUL, and the last byte set apart from it, always lie inside the area, so that
  // nothing after it (the environment) is ever shown.
  const size_t title_length = std::min(std::strlen(title), area_bytes - 2);
  std::memcpy(area, title, title_length);
  std::memset(area + title_length, 0, area_bytes - title_length);
  area[area_bytes - 1] = ' ';
  return true;
#else
  (void)argc;
  (void)argv;
  (void)title;
  return false;
#endif
}

// ---- Clock -------------------------------------------------------------------------------------

int64_t CurrentTimeSeconds() {
  return static_cast<int64_t>(time(nullptr));
}

LocalTime CurrentLocalTime() {
  time_t now = time(nullptr);
  struct tm parts;
  localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,     parts.tm_wday};
}

}  // namespace rowflume

#endif  // !defined(_WIN32)
