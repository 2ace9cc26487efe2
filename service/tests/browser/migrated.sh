#!/usr/bin/env bash
# A data folder made by an earlier release (service/tests/data/release-folder.tar.gz) after the
# upgrade, in Debian's Chromium (headless, puppeteer-core): moved by `torvo-service migrate` into
# a PostgreSQL the test starts itself, and opened in place by today's SQLite store. On both,
# migrated_test.mjs signs in with the old passwords and finds every entry with its picture, the
# Korean folders, the private marks, Korean searches, the imported bookmarks and the export.
#
#   migrated.sh --service torvo-service --shots DIR
set -uo pipefail
source "$(dirname "$0")/../../../scripts/lib/e2e.sh"
source "$(dirname "$0")/../../../scripts/lib/postgres.sh"
e2e_arguments "service shots" "$@"
[ -x "$service" ] && [ -n "$shots" ] || { echo "usage: $0 --service S --shots DIR" >&2; exit 2; }
here="$(cd "$(dirname "$0")" && pwd)"
fixture="$here/../data/release-folder.tar.gz"
command -v chromium >/dev/null || { echo "migrated: chromium is missing (scripts/setup.sh installs it)" >&2; exit 1; }

e2e_begin
e2e_at_exit pg_stop
export HOME="$tmp/home"
mkdir -p "$HOME"
fail() { echo "migrated: FAILED: $*" >&2; exit 1; }
step() { echo "migrated: $*"; }

step "npm ci ($(date +%T))"
mkdir -p "$tmp/node"
cp "$here/package.json" "$here/package-lock.json" "$here/browser.mjs" "$here/migrated_test.mjs" "$tmp/node/"
(cd "$tmp/node" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error) >"$tmp/npm.log" 2>&1 ||
  { cat "$tmp/npm.log" >&2; fail "npm ci"; }

# Two copies of the old folder: one to move, one to upgrade in place.
mkdir -p "$tmp/moved" "$tmp/kept"
tar -C "$tmp/moved" -xzf "$fixture" && tar -C "$tmp/kept" -xzf "$fixture" || fail "cannot unpack $fixture"

step "PostgreSQL ($(date +%T))"
pg_start || fail "PostgreSQL did not start"
url=$(pg_database torvo) || fail "no database"
"$service" migrate --data "$tmp/moved/data" --database "$url" >"$tmp/migrate.out" 2>"$tmp/migrate.err" ||
  { cat "$tmp/migrate.out" "$tmp/migrate.err" >&2; fail "migrate"; }
step "$(tr '\n' ' ' <"$tmp/migrate.out")"
expect_line="moved 2 users, 0 devices, 4 folders, 8 entries, 5 pictures, 1 sessions"
[ "$(head -1 "$tmp/migrate.out")" = "$expect_line" ] || fail "migrate said [$(head -1 "$tmp/migrate.out")], wanted [$expect_line]"

# Each on a port of its own (no TorvoTool here, so not the build's port).
start() {  # NAME ARGS...: sets the variable NAME to the service's address
  local name="$1"
  shift
  "$service" --port 0 "$@" >"$tmp/$name.out" 2>"$tmp/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do grep -q "listening on" "$tmp/$name.out" && break; sleep 0.1; done
  local address
  address="$(sed -n 's/^listening on //p' "$tmp/$name.out")"
  [ -n "$address" ] || { cat "$tmp/$name.log" >&2; fail "the service on $name did not start"; }
  printf -v "$name" 'http://%s' "$address"
}
start postgresql --database "$url"
start sqlite --data "$tmp/kept/data"

step "Chromium ($(date +%T))"
(cd "$tmp/node" && TORVO_SERVICES="postgresql=$postgresql,sqlite=$sqlite" TORVO_EXPECTED="$tmp/moved/expected.json" \
  TORVO_SHOTS="$shots" TORVO_PROFILE="$tmp/profile" node migrated_test.mjs)
result=$?
[ "$result" = 0 ] || { tail -20 "$tmp/postgresql.log" "$tmp/sqlite.log" >&2; exit "$result"; }
exit 0
