# Sourced by the end-to-end scripts that drive TorvoTool as a user would (Linux and Wine): their
# arguments, a scratch folder that goes at the end with every process they started, the tally of
# checks, and the waits for windows and processes; the window manager's routines come along.
source "$(dirname "${BASH_SOURCE[0]}")/window-manager.sh"

# e2e_arguments "NAME..." "$@": each --NAME VALUE of the named ones sets the variable NAME (given
# empty first); anything else ends the script with status 2.
e2e_arguments() {
  local names=" $1 " name
  shift
  for name in $names; do printf -v "$name" '%s' ""; done
  while [ $# -gt 0 ]; do
    name="${1#--}"
    if [ "$name" = "$1" ] || [[ "$names" != *" $name "* ]] || [ $# -lt 2 ]; then
      echo "unknown argument $1" >&2
      exit 2
    fi
    printf -v "$name" '%s' "$2"
    shift 2
  done
}

# The scratch folder $tmp, the shots folder emptied, the tally at zero, and the clean-up at exit:
# every pid in `pids` is ended, then what e2e_at_exit named runs (newest first), then $tmp goes.
e2e_begin() {
  tmp=$(mktemp -d)
  mkdir -p "$shots"
  rm -f "$shots"/*.png
  passed=0 failed=0
  pids=()
  at_exit=()
  trap e2e_cleanup EXIT
}
e2e_at_exit() { at_exit+=("$*"); }
e2e_cleanup() {
  local p i
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  for ((i = ${#at_exit[@]} - 1; i >= 0; i--)); do eval "${at_exit[i]}"; done
  rm -rf "$tmp"
}

ok() { passed=$((passed + 1)); echo "ok: $*"; }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }
expect() {  # expect DESCRIPTION ACTUAL WANTED
  if [ "$2" == "$3" ]; then ok "$1"; else bad "$1: got [$2], wanted [$3]"; fi
}
shot() { import -window root "$shots/$1.png"; }

# How long the waits below wait unless told, in tenths of a second; a slower desktop (Wine) sets
# more.
window_wait=150 exit_wait=150

# The id of the visible window whose name is exactly $1, waiting up to $2 tenths of a second.
find_window() {
  local id
  for _ in $(seq "${2:-$window_wait}"); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Waits up to $2 tenths of a second for our child process $1 to end; sets status to its exit
# status, or to "still running".
wait_exit() {
  status="still running"
  for _ in $(seq "${2:-$exit_wait}"); do
    case "$(ps -o stat= -p "$1" 2>/dev/null)" in
      "" | Z*) wait "$1" && status=0 || status=$?; return ;;  # a failure is a status, even under set -e
    esac
    sleep 0.1
  done
}

port_free() { ! curl -s -o /dev/null "http://127.0.0.1:$port/"; }
