#!/usr/bin/env bash
# A private MariaDB server for the consumer tests: its own data directory and socket under DIR,
# no network, no configuration files of the machine.
#   mariadb_server.sh start DIR   installs a fresh data directory and starts the server; exits
#                                 0 once it answers, 3 when MariaDB is not installed, 1 when it
#                                 does not come up within 60 seconds
#   mariadb_server.sh stop DIR    shuts the server down (killing it if it does not stop)
#   mariadb_server.sh sql DIR [args...]   runs the client on the server as root, database test
set -uo pipefail
action=${1:?usage: mariadb_server.sh start|stop|sql DIR}
dir=${2:?usage: mariadb_server.sh start|stop|sql DIR}
shift 2
socket="$dir/mysqld.sock"
pidfile="$dir/mysqld.pid"
user_args=()
[ "$(id -u)" -eq 0 ] && user_args=(--user=root)

case "$action" in
  start)
    for tool in mariadb-install-db mariadbd mariadb mariadb-admin; do
      command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || exit 3
    done
    server=$(command -v mariadbd || echo /usr/sbin/mariadbd)
    mkdir -p "$dir/data" "$dir/tmp"
    # A private tmpdir: concurrent installs would otherwise clash over temporary tables in /tmp.
    mariadb-install-db --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" "${user_args[@]}" \
      --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 || {
      cat "$dir/install.log" >&2
      exit 1
    }
    "$server" --no-defaults --datadir="$dir/data" --socket="$socket" --pid-file="$pidfile" \
      --skip-networking --tmpdir="$dir/tmp" --local-infile=1 --innodb-buffer-pool-size=16M \
      --log-error="$dir/server.log" "${user_args[@]}" >/dev/null 2>&1 &
    for _ in $(seq 1 120); do
      if mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then
        mariadb --no-defaults --socket="$socket" -uroot -e "CREATE DATABASE IF NOT EXISTS test"
        exit $?
      fi
      sleep 0.5
    done
    cat "$dir/server.log" >&2
    exit 1
    ;;
  stop)
    mariadb-admin --no-defaults --socket="$socket" -uroot shutdown >/dev/null 2>&1
    for _ in $(seq 1 40); do
      [ -f "$pidfile" ] || exit 0
      sleep 0.25
    done
    [ -f "$pidfile" ] && kill -9 "$(cat "$pidfile")" 2>/dev/null
    exit 0
    ;;
  sql)
    exec mariadb --no-defaults --socket="$socket" -uroot --local-infile=1 -N -B test "$@"
    ;;
  *)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
