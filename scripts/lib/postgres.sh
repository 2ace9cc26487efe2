# shellcheck shell=bash
# Sourced by tests that need a PostgreSQL of their own: Debian's postgresql-15, a cluster made
# by initdb in a temporary folder (UTF-8, C.UTF-8), listening on a free loopback port and on a
# unix socket in that folder, run as `nobody` when we are root (PostgreSQL refuses root).
#
#   pg_start              starts it; sets pg_dir, pg_port, pg_host (the socket's folder)
#   pg_database NAME      creates the database NAME and prints its connection string
#   pg_url NAME           the connection string of NAME without creating it
#   pg_sql NAME SQL       runs SQL in NAME and prints the rows, unaligned
#   pg_stop [MODE]        stops it (fast unless told) and removes the folder; safe to call twice
#   pg_restart            stops it fast and starts it again on the same port
# The caller calls pg_stop at its exit (e2e_at_exit pg_stop).

pg_bin=/usr/lib/postgresql/15/bin
pg_dir="" pg_port="" pg_host=""

pg_as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

pg_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

pg_url() { printf 'host=%s port=%s user=torvo dbname=%s' "$pg_host" "$pg_port" "$1"; }

pg_sql() { "$pg_bin/psql" -X -q -A -t -v ON_ERROR_STOP=1 -d "$(pg_url "$1")" -c "$2"; }

pg_database() {
  "$pg_bin/psql" -X -q -v ON_ERROR_STOP=1 -d "$(pg_url postgres)" \
    -c "CREATE DATABASE \"$1\" TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8'" >&2 ||
    return 1
  pg_url "$1"
}

# The server on pg_port; fsync off: the tests end services, never the database server.
pg_launch() {
  pg_as_owner "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w -t 60 \
    -o "-p $pg_port -k $pg_dir -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=100 -c shared_buffers=32MB" \
    start >/dev/null
}

pg_start() {
  [ -x "$pg_bin/initdb" ] || { echo "postgres: $pg_bin/initdb is missing (scripts/setup.sh installs postgresql-15)" >&2; return 1; }
  pg_dir=$(mktemp -d "${TMPDIR:-/tmp}/torvo-pg-XXXXXX") || return 1
  [ "$(id -u)" = 0 ] && chown nobody "$pg_dir"
  pg_host="$pg_dir"
  pg_as_owner "$pg_bin/initdb" -D "$pg_dir/data" -U torvo --auth=trust --encoding=UTF8 --locale=C.UTF-8 --no-sync \
    >"$pg_dir/initdb.log" 2>&1 || { cat "$pg_dir/initdb.log" >&2; return 1; }
  # Another program may take the port between our look and the server's bind: try another.
  for _ in 1 2 3 4 5; do
    pg_port=$(pg_free_port)
    pg_launch && return 0
  done
  echo "postgres: the server did not start" >&2
  tail -20 "$pg_dir/server.log" >&2
  return 1
}

pg_restart() {
  pg_as_owner "$pg_bin/pg_ctl" -D "$pg_dir/data" -m fast -w stop >/dev/null && pg_launch
}

pg_stop() {
  [ -n "$pg_dir" ] && [ -d "$pg_dir" ] || return 0
  pg_as_owner "$pg_bin/pg_ctl" -D "$pg_dir/data" -m "${1:-fast}" -w -t 30 stop >/dev/null 2>&1 ||
    pg_as_owner "$pg_bin/pg_ctl" -D "$pg_dir/data" -m immediate -w stop >/dev/null 2>&1
  rm -rf "$pg_dir"
  pg_dir=""
}
