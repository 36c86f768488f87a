#!/usr/bin/env bash
# Installs what is missing on a Debian machine, only when it is missing:
#   scripts/setup.sh demo   what scripts/demo.sh needs: the Linux program's build and sqlite3
#   scripts/setup.sh        everything the tests need too (sanitizers, fuzzers, Windows builds
#                           and Wine, the database servers, the packaging tools, the pinned
#                           SQLite amalgamation and the Parquet readers)
# A step that fails says which step, and shows what the failing tool printed.
set -euo pipefail
cd "$(dirname "$0")/.."
part=${1:-test}
case "$part" in
  demo | test) ;;
  *)
    echo "usage: scripts/setup.sh [demo]" >&2
    exit 2
    ;;
esac
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

# Runs a step quietly; on failure prints what the step was and the step's own output.
step() {
  local what=$1 log
  shift
  if ! log=$("$@" 2>&1); then
    [ -z "$log" ] || printf '%s\n' "$log" >&2
    echo "setup failed: $what (command: $*)" >&2
    return 1
  fi
}

apt_install() {
  echo "installing: $*"
  step "apt-get update" $SUDO apt-get update -qq
  step "apt-get install $*" $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
}

need=()
# The Linux program: compiler, build tools and the libraries it links.
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v sqlite3 >/dev/null || need+=(sqlite3)
[ -f /usr/include/sqlite3.h ] || need+=(libsqlite3-dev)
# SHA-256 of the manifests through the system's crypto library; their JSON through nlohmann's
# header-only library (the Windows builds take the same header).
[ -f /usr/include/openssl/evp.h ] || need+=(libssl-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
# Parquet pages are compressed with ZSTD or Snappy through the system's libraries.
[ -f /usr/include/zstd.h ] || need+=(libzstd-dev)
[ -f /usr/include/snappy-c.h ] || need+=(libsnappy-dev)

if [ "$part" = test ]; then
  command -v python3 >/dev/null || need+=(python3)
  command -v pkg-config >/dev/null || need+=(pkg-config)
  command -v git >/dev/null || need+=(git)
  # CPack's Debian generator reads the program's type with file(1); dpkg-shlibdeps gives the
  # package's dependencies.
  command -v file >/dev/null || need+=(file)
  command -v dpkg-shlibdeps >/dev/null || need+=(dpkg-dev)
  # The format check and the fuzzers use one pinned clang: its clang-format and its libFuzzer.
  command -v clang-format-14 >/dev/null || need+=(clang-format-14)
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
  # jq reads the manifests in a test.
  command -v jq >/dev/null || need+=(jq)
  command -v clang++-14 >/dev/null || need+=(clang-14)
  ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
    need+=(libclang-rt-14-dev)
  # The MySQL output formats are checked by loading them into a private MariaDB server.
  command -v mariadbd >/dev/null || [ -x /usr/sbin/mariadbd ] || need+=(mariadb-server)
  command -v mariadb >/dev/null || need+=(mariadb-client)
  # The CSV layout is checked by loading it into a private PostgreSQL server.
  ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || need+=(postgresql)
  command -v psql >/dev/null || need+=(postgresql-client)
  # The Windows builds: Debian's mingw-w64 compilers (posix threads), Wine to run the 64-bit
  # programs, npm to fetch the SQLite amalgamation, GoogleTest's sources for the test programs.
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
  command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
  [ -x /usr/lib/wine/wine64 ] || need+=(wine64)
  command -v npm >/dev/null || need+=(npm)
  [ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
fi
if [ ${#need[@]} -gt 0 ]; then
  apt_install "${need[@]}"
fi
if [ "$part" = demo ]; then exit 0; fi

# Wine's 32-bit half runs the i686 build; it comes from the i386 architecture, which a machine
# must be told about first. Without it scripts/test_windows.sh says that it cannot run 32-bit
# programs, so a machine that cannot take it still runs everything else.
if [ ! -x /usr/lib/wine/wine ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    step "dpkg --add-architecture i386" $SUDO dpkg --add-architecture i386
  fi
  apt_install wine32:i386 ||
    echo "setup: the 32-bit Wine (wine32:i386) is not installed, so the i686 build is not run" >&2
fi

# SQLite for the Windows builds, from its amalgamation: one pinned release, taken from the npm
# package that carries it and checked against the digests kept in cmake/. Fetched here, never
# while building.
sqlite_version=better-sqlite3@12.4.1  # SQLite 3.50.4
sqlite_dir=build/deps/sqlite3
sums=$PWD/cmake/sqlite3-amalgamation.sha256
if ! (cd "$sqlite_dir" 2>/dev/null && sha256sum --check --status "$sums"); then
  echo "fetching the SQLite amalgamation ($sqlite_version)"
  fetch=$(mktemp -d)
  trap 'rm -rf "$fetch"' EXIT
  step "npm pack $sqlite_version (the SQLite amalgamation, from the npm registry)" \
    npm pack --pack-destination "$fetch" --loglevel=error "$sqlite_version"
  step "unpacking the SQLite amalgamation from $(echo "$fetch"/*.tgz)" \
    tar -xzf "$(echo "$fetch"/*.tgz)" -C "$fetch" package/deps/sqlite3/sqlite3.c \
    package/deps/sqlite3/sqlite3.h
  if ! (cd "$fetch/package/deps/sqlite3" && sha256sum --check --quiet "$sums"); then
    echo "setup failed: the SQLite amalgamation does not match cmake/sqlite3-amalgamation.sha256" >&2
    exit 1
  fi
  mkdir -p "$sqlite_dir"
  mv "$fetch/package/deps/sqlite3/sqlite3.c" "$fetch/package/deps/sqlite3/sqlite3.h" "$sqlite_dir/"
fi

# The Parquet readers that the tests check written files with, none of them this project's: one
# pinned npm project (tests/readers), installed from its lock file into the build tree. A stamp of
# the two files it was installed from is written last, so a changed pin or a broken install is
# installed again.
readers_dir=build/deps/readers
readers_stamp=$(cat tests/readers/package.json tests/readers/package-lock.json | sha256sum)
if [ ! -d "$readers_dir/node_modules" ] ||
    [ "$(cat "$readers_dir/installed.sha256" 2>/dev/null)" != "$readers_stamp" ]; then
  echo "installing the Parquet readers (tests/readers/package-lock.json)"
  rm -rf "$readers_dir"
  mkdir -p "$readers_dir"
  cp tests/readers/package.json tests/readers/package-lock.json "$readers_dir/"
  step "npm ci of the Parquet readers into $readers_dir (from the npm registry)" \
    npm ci --prefix "$readers_dir" --no-audit --no-fund --loglevel=error
  echo "$readers_stamp" >"$readers_dir/installed.sha256"
fi
