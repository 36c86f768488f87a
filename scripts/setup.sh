#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v sqlite3 >/dev/null || need+=(sqlite3)
command -v python3 >/dev/null || need+=(python3)
command -v pkg-config >/dev/null || need+=(pkg-config)
# The format check and the fuzzers use one pinned clang: its clang-format and its libFuzzer.
command -v clang-format-14 >/dev/null || need+=(clang-format-14)
[ -f /usr/include/sqlite3.h ] || need+=(libsqlite3-dev)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# SHA-256 of the manifests through the system's crypto library; their JSON through nlohmann's
# header-only library (the Windows builds take the same header); jq reads them in a test.
[ -f /usr/include/openssl/evp.h ] || need+=(libssl-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v jq >/dev/null || need+=(jq)
# Parquet pages are compressed with ZSTD or Snappy through the system's libraries.
[ -f /usr/include/zstd.h ] || need+=(libzstd-dev)
[ -f /usr/include/snappy-c.h ] || need+=(libsnappy-dev)
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
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
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
  (cd "$fetch" && npm pack --silent "$sqlite_version" >/dev/null)
  tar -xzf "$fetch"/*.tgz -C "$fetch" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
  if ! (cd "$fetch/package/deps/sqlite3" && sha256sum --check --quiet "$sums"); then
    rm -rf "$fetch"
    echo "the SQLite amalgamation does not match cmake/sqlite3-amalgamation.sha256" >&2
    exit 1
  fi
  mkdir -p "$sqlite_dir"
  mv "$fetch/package/deps/sqlite3/sqlite3.c" "$fetch/package/deps/sqlite3/sqlite3.h" "$sqlite_dir/"
  rm -rf "$fetch"
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
  if ! log=$(npm ci --prefix "$readers_dir" --no-audit --no-fund --loglevel=error 2>&1); then
    printf '%s\n' "$log" >&2
    echo "npm ci of the Parquet readers into $readers_dir failed" >&2
    exit 1
  fi
  echo "$readers_stamp" >"$readers_dir/installed.sha256"
fi
