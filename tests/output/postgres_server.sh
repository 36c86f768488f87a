#!/usr/bin/env bash
# A private PostgreSQL server for the consumer tests: its own data directory and socket under DIR,
# no network (listen_addresses is empty), no configuration files of the machine.
#   postgres_server.sh start DIR   makes a fresh cluster and starts the server; exits 0 once it
#                                  answers, 3 when PostgreSQL is not installed, 1 when it does not
#                                  come up within 60 seconds
#   postgres_server.sh stop DIR    shuts the server down
#   postgres_server.sh sql DIR [args...]   runs psql on the server as its superuser, database
#                                  test: rows unaligned with "|" between columns, no headers
# The server refuses to run as root; under root the cluster belongs to the user nobody, and
# DIR must lie where that user can reach it (the script makes DIR itself world-searchable).
set -uo pipefail
action=${1:?usage: postgres_server.sh start|stop|sql DIR}
dir=${2:?usage: postgres_server.sh start|stop|sql DIR}
shift 2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

case "$action" in
  start)
    [ -n "$bin" ] && [ -x "$bin/initdb" ] && [ -x "$bin/postgres" ] && command -v psql >/dev/null ||
      exit 3
    mkdir -p "$dir/data"
    chmod 755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$dir/data"
    "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 \
      >"$dir/install.log" 2>&1 || {
      cat "$dir/install.log" >&2
      exit 1
    }
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/data/server.log" -w -t 60 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir/data' -c fsync=off" start \
      >/dev/null 2>&1 || {
      cat "$dir/data/server.log" >&2
      exit 1
    }
    psql -X -q -h "$dir/data" -U postgres -d postgres -c "CREATE DATABASE test" >/dev/null
    exit $?
    ;;
  stop)
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1
    exit 0
    ;;
  sql)
    exec psql -X -q -v ON_ERROR_STOP=1 -h "$dir/data" -U postgres -d test -A -t -F '|' "$@"
    ;;
  *)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
