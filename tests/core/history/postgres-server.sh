#!/bin/sh
# Starts and stops the PostgreSQL server the history store's tests run on:
# a cluster of its own in a temporary folder, reached only through a unix
# socket in that folder (no TCP port, so test runs side by side never meet),
# user "spindle" trusted, database "spindle".
#
#   postgres-server.sh start LINK   LINK becomes a symbolic link to the folder
#   postgres-server.sh stop LINK
#
# The tests connect to postgresql:///spindle?host=LINK&port=5432&user=spindle.
# A server that cannot be started is reported and the PostgreSQL tests skip,
# unless SPINDLE_TEST_REQUIRE_POSTGRES is set: then the start fails.
set -u
action=$1
link=$2
bindir=${SPINDLE_POSTGRES_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}
# postgres refuses to run as root: as root, the server runs as the user the
# package makes.
server_user=postgres
id -u postgres >/dev/null 2>&1 || server_user=nobody

as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u "$server_user" -- "$@"; else "$@"; fi
}

not_started() {
  echo "postgres-server.sh: the test server was not started: $*" >&2
  [ -z "${SPINDLE_TEST_REQUIRE_POSTGRES:-}" ]
  exit
}

stop() {
  [ -L "$link" ] || return 0
  dir=$(readlink "$link")
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_server "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1
  fi
  rm -rf "$dir" "$link"
}

case "$action" in
stop) stop ;;
start)
  stop  # a server an interrupted run left behind
  [ -x "$bindir/initdb" ] || not_started "no PostgreSQL server programs in ${bindir:-/usr/lib/postgresql} (install Debian's postgresql package)"
  dir=$(mktemp -d "${TMPDIR:-/tmp}/spindle-postgres-XXXXXX") || not_started "no temporary folder"
  chmod 755 "$dir"
  ln -s "$dir" "$link"
  if [ "$(id -u)" -eq 0 ]; then chown "$server_user" "$dir"; fi
  cd "$dir" || exit 1  # the server's programs want a folder their user may read
  as_server "$bindir/initdb" -D "$dir/data" -U spindle --auth=trust -E UTF8 --no-sync >"$dir/initdb.log" 2>&1 ||
    not_started "initdb failed: $(tail -n 3 "$dir/initdb.log")"
  as_server "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-c listen_addresses= -c unix_socket_directories=$dir -c port=5432 -c fsync=off" start >/dev/null 2>&1 ||
    not_started "the server did not start: $(tail -n 3 "$dir/server.log")"
  as_server "$bindir/createdb" -h "$dir" -p 5432 -U spindle spindle 2>&1 ||
    not_started "the database could not be made"
  ;;
*) echo "usage: postgres-server.sh start|stop LINK" >&2; exit 2 ;;
esac
