#!/usr/bin/env bash
# The service's first start on a new data folder with a command beside it, as when an
# administrator adds the first user while the service comes up: both must come up, every round.
#   first_start_beside_a_command.sh TORVO_SERVICE [ROUNDS]
set -uo pipefail
service="$1" rounds="${2:-40}"
tmp=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$tmp"' EXIT
printf 'carol password 5\n' >"$tmp/password"
failed=0
for round in $(seq "$rounds"); do
  data="$tmp/data$round" ready="$tmp/ready$round"
  "$service" --port 0 --data "$data" --ready-file "$ready" >/dev/null 2>"$tmp/service.log" &
  pid=$!
  "$service" user add --data "$data" carol --password-file "$tmp/password" >/dev/null 2>"$tmp/add.log" ||
    { echo "round $round: user add failed: $(tail -1 "$tmp/add.log")"; failed=1; }
  for _ in $(seq 100); do [ -s "$ready" ] && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  [ -s "$ready" ] || { echo "round $round: the service did not start: $(tail -1 "$tmp/service.log")"; failed=1; }
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=""
done
[ "$failed" -eq 0 ] && echo "the service and a command opened $rounds new data folders together"
exit "$failed"
