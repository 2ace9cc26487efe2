#!/bin/sh
# Runs a benchmark against a PostgreSQL 15 of its own: a new cluster in a temporary folder (as the
# unprivileged user postgres or nobody when run as root), one empty UTF-8 database, the command run
# with "--database URL" added, then the cluster stopped and removed.
#
#   service/bench/with_postgres.sh [--port N] [--keep] BENCH [ARGS...]
#
# The server keeps Debian's defaults (fsync on, 128 MB of shared buffers) but for the socket
# folder and the port. --keep leaves it running and prints how to stop it.
set -eu
port=18810
keep=
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--port N] [--keep] BENCH [ARGS...]" >&2; exit 2; }

bin=/usr/lib/postgresql/15/bin
[ -x "$bin/postgres" ] || { echo "PostgreSQL 15 is not installed (apt-get install postgresql-15)" >&2; exit 2; }
folder=$(mktemp -d /tmp/torvo-bench-postgres-XXXXXX)
as=
if [ "$(id -u)" = 0 ]; then
  user=postgres
  id postgres >/dev/null 2>&1 || user=nobody
  chown "$user" "$folder"
  as="runuser -u $user --"
fi

stop() {
  $as "$bin/pg_ctl" -D "$folder/data" -m fast -w stop >/dev/null 2>&1 || true
  rm -rf "$folder"
}

$as "$bin/initdb" -D "$folder/data" -U torvo --auth=trust --encoding=UTF8 --locale=C.UTF-8 >"$folder/initdb.log" 2>&1 ||
  { cat "$folder/initdb.log" >&2; rm -rf "$folder"; exit 1; }
if ! $as "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
     -o "-p $port -k $folder -c listen_addresses=127.0.0.1" start >/dev/null; then
  cat "$folder/server.log" >&2
  rm -rf "$folder"
  exit 1
fi
[ -n "$keep" ] || trap stop EXIT INT TERM
url="host=127.0.0.1 port=$port user=torvo dbname=torvo"
"$bin/psql" -q -h 127.0.0.1 -p "$port" -U torvo -d postgres \
  -c "CREATE DATABASE torvo TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8'"
if [ -n "$keep" ]; then
  echo "PostgreSQL at \"$url\"; stop it with: $as $bin/pg_ctl -D $folder/data -m fast stop && rm -rf $folder"
fi
"$@" --database "$url"
