#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, run the demo and benchmark.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libfreeimage-dev libpng-dev libdeflate-dev zlib1g-dev libcurl4-openssl-dev libsqlite3-dev libcpp-httplib-dev libsodium-dev libfontconfig-dev libxcb1-dev libxcb-shm0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox xdotool imagemagick x11-utils fonts-nanum
  python3 python3-numpy python3-feedparser curl wget
  nlohmann-json3-dev nodejs chromium firefox-esr zip
  weston xwayland dbus
  clang libclang-rt-14-dev
  dpkg-dev file lintian desktop-file-utils appstream
  nsis
  nginx-light openssl
  postgresql-15 libpq-dev haproxy pgbouncer
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The browser tests fetch puppeteer-core with npm, which Debian packages apart from nodejs (a
# nodejs from elsewhere may bring its own).
command -v npm >/dev/null || missing+=(npm)

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# TorvoTool's Wine test starts it under a Korean and an English UTF-8 locale: Wine reads the
# command line's bytes in the locale's character set, and without the locale they are garbled.
for l in ko_KR en_US; do
  locale -a 2>/dev/null | grep -qix "$l.utf-\?8" && continue
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO localedef -i "$l" -f UTF-8 "$l.UTF-8"
done
echo "setup: all packages present"
