#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, only when it is missing.
set -euo pipefail
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
command -v clang++-14 >/dev/null || need+=(clang-14)
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 ||
  need+=(libclang-rt-14-dev)
# The MySQL output formats are checked by loading them into a private MariaDB server.
command -v mariadbd >/dev/null || [ -x /usr/sbin/mariadbd ] || need+=(mariadb-server)
command -v mariadb >/dev/null || need+=(mariadb-client)
# The CSV layout is checked by loading it into a private PostgreSQL server.
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || need+=(postgresql)
command -v psql >/dev/null || need+=(postgresql-client)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi
