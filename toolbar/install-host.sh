#!/usr/bin/env bash
# Registers torvo-toolbar-host with Chromium and Firefox, so that the Torvo extension can reach it.
#
#   install-host.sh [--host PATH] [--system] [--remove]
#
#   --host PATH  the host program (default: torvo-toolbar-host on PATH, else an installed copy
#                beside this script's share folder, else the one built in build/local or
#                build/release of this checkout)
#   --system     for every user: /etc/chromium/native-messaging-hosts and
#                /usr/lib/mozilla/native-messaging-hosts (needs root); otherwise for you only:
#                ~/.config/chromium/NativeMessagingHosts and ~/.mozilla/native-messaging-hosts
#   --remove     take the registration away again
#
# The extension itself is added in the browser (see toolbar/README.md).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
name=torvo.toolbar
host=""
system=0
remove=0
while (($#)); do
  case "$1" in
    --host) host="${2:?--host needs a path}"; shift 2 ;;
    --system) system=1; shift ;;
    --remove) remove=1; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install-host.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
done

if ((system)); then
  chromium_dir="${DESTDIR:-}/etc/chromium/native-messaging-hosts"
  firefox_dir="${DESTDIR:-}/usr/lib/mozilla/native-messaging-hosts"
else
  chromium_dir="${XDG_CONFIG_HOME:-$HOME/.config}/chromium/NativeMessagingHosts"
  firefox_dir="$HOME/.mozilla/native-messaging-hosts"
fi

if ((remove)); then
  rm -f "$chromium_dir/$name.json" "$firefox_dir/$name.json"
  echo "install-host.sh: removed $chromium_dir/$name.json and $firefox_dir/$name.json"
  exit 0
fi

# Templates sit beside this script in a checkout, or in the installed share folder.
templates="$here/manifests"
[ -d "$templates" ] || templates="$here/native-messaging-hosts"

if [ -z "$host" ]; then
  host="$(command -v torvo-toolbar-host || true)"
  # An installed copy (share/torvo/ beside bin/), then a build of this checkout.
  for candidate in "$here/../../bin/torvo-toolbar-host" "$here/../build/local/toolbar/host/torvo-toolbar-host" \
                   "$here/../build/release/toolbar/host/torvo-toolbar-host"; do
    [ -n "$host" ] && break
    if [ -x "$candidate" ]; then host="$candidate"; fi
  done
fi
if [ -z "$host" ] || [ ! -x "$host" ]; then
  echo "install-host.sh: torvo-toolbar-host not found${host:+ at $host}; build it or name it with --host" >&2
  exit 1
fi
# Browsers need an absolute path without a shell in between.
host="$(cd "$(dirname "$host")" && pwd)/$(basename "$host")"
case "$host" in
  *'"'*|*'\'*) echo "install-host.sh: the host's path may not contain quotes or backslashes: $host" >&2; exit 1 ;;
esac

replacement="$(printf '%s' "$host" | sed 's/[&|]/\\&/g')"
mkdir -p "$chromium_dir" "$firefox_dir"
sed "s|@TORVO_TOOLBAR_HOST@|$replacement|" "$templates/chromium.json.in" > "$chromium_dir/$name.json"
sed "s|@TORVO_TOOLBAR_HOST@|$replacement|" "$templates/firefox.json.in" > "$firefox_dir/$name.json"
echo "install-host.sh: $host registered in $chromium_dir and $firefox_dir"
