#!/usr/bin/env bash
# The libraries the Windows build links that Debian ships only for Linux: libpng, FreeImage (BMP
# and PNG, rescaling), libdeflate and GoogleTest with gMock, cross-built with mingw-w64 from Debian's own
# source packages. Built once into a cache folder outside the checkout, keyed by the source
# packages' versions, the cross compiler and this recipe, so later runs take a second.
#
#   scripts/windows-deps.sh            builds if needed, prints the prefix (include/, lib/, bin/)
#
# TORVO_WINDOWS_DEPS_CACHE chooses the cache folder (default ~/.cache/torvo/windows-deps).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cache="${TORVO_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/torvo/windows-deps}"
toolchain="$here/cmake/toolchain-mingw-w64-x86_64.cmake"
say() { echo "windows-deps: $*" >&2; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The cross compiler, zlib for Windows, Wine to run the tests, and the tools that unpack sources.
packages=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev cmake ninja-build python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  say "installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Source packages come from the system's own Debian archives: a deb-src twin of each of its
# entries for this release, written from the system's source lists at run time.
sources=(freeimage libpng1.6 libdeflate googletest)
source_versions() {  # the versions apt knows of a source package, newest first
  apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u |
    python3 -c 'import sys, functools, subprocess
def cmp(a, b):
    if a == b: return 0
    return -1 if subprocess.run(["dpkg", "--compare-versions", a, "lt", b]).returncode == 0 else 1
print(" ".join(sorted(sys.stdin.read().split(), key=functools.cmp_to_key(cmp), reverse=True)))'
}
if [ -z "$(source_versions freeimage)" ]; then
  say "adding the source archives of the system's Debian release"
  python3 - <<'EOF' | $SUDO tee /etc/apt/sources.list.d/torvo-deb-src.sources >/dev/null
import glob, re
codename = ""
for line in open("/etc/os-release"):
    if line.startswith("VERSION_CODENAME="):
        codename = line.split("=", 1)[1].strip().strip('"')
def ours(suites):  # this release's suites (bookworm, bookworm-updates, bookworm-security)
    return [s for s in suites if s == codename or s.startswith(codename + "-")]
out = []
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    if path.endswith("/torvo-deb-src.sources"):
        continue
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        lines = [l for l in stanza.splitlines() if l.strip() and not l.lstrip().startswith("#")]
        fields = {}
        for l in lines:
            if not l[0].isspace() and ":" in l:
                key, value = l.split(":", 1)
                fields[key.strip().lower()] = value.strip()
        if "deb" not in fields.get("types", "").split() or fields.get("enabled", "yes").lower() == "no":
            continue
        suites = ours(fields.get("suites", "").split())
        if not suites:
            continue
        kept = [l for l in lines if l.split(":", 1)[0].strip().lower() not in ("types", "suites")]
        out.append("\n".join(["Types: deb-src", "Suites: " + " ".join(suites)] + kept))
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        text = open(path).read()
    except OSError:
        continue
    for line in text.splitlines():
        words = line.split("#", 1)[0].split()
        if len(words) >= 3 and words[0] == "deb":
            rest = words[1:]
            options = rest[0] if rest[0].startswith("[") else ""
            if options:
                rest = rest[1:]
            if len(rest) >= 2 and ours([rest[1]]):
                stanza = ["Types: deb-src", "URIs: " + rest[0], "Suites: " + rest[1], "Components: " + " ".join(rest[2:])]
                m = re.search(r"signed-by=([^\] ]+)", options)
                if m:
                    stanza.append("Signed-By: " + m.group(1))
                out.append("\n".join(stanza))
if not out:
    raise SystemExit("windows-deps: no Debian archive for this release among the system's sources")
print("\n\n".join(out))
EOF
  $SUDO apt-get update -qq
fi

declare -A versions
for s in "${sources[@]}"; do
  versions[$s]="$(source_versions "$s")"
  [ -n "${versions[$s]}" ] || { say "apt knows no source package $s"; exit 1; }
done

key_text="$(for s in "${sources[@]}"; do echo "$s ${versions[$s]}"; done
  dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-x86-64-posix libz-mingw-w64-dev mingw-w64-x86-64-dev
  cat "$0" "$toolchain" "$here/cmake/windows-deps/freeimage/CMakeLists.txt" \
    "$here/cmake/windows-deps/libdeflate/CMakeLists.txt")"
key="$(printf '%s' "$key_text" | sha256sum | cut -c1-16)"
prefix="$cache/$key"
if [ -f "$prefix/complete" ]; then
  say "up to date in $prefix"
  echo "$prefix"
  exit 0
fi

started=$(date +%s)
work="$(mktemp -d "${TMPDIR:-/tmp}/torvo-windows-deps.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$cache"
chmod 755 "$work" "$work/src"   # apt's download user reads the folder it writes into
rm -rf "$prefix.partial"
mkdir -p "$prefix.partial"

# The newest version the archive can still deliver (an index may name one a mirror lacks).
fetched=()
for s in "${sources[@]}"; do
  ok=""
  for v in ${versions[$s]}; do
    if (cd "$work/src" && apt-get source -qq --download-only "$s=$v" >/dev/null 2>"$work/apt.log"); then
      ok="$v"
      break
    fi
    say "$s $v cannot be fetched, trying an older one"
  done
  [ -n "$ok" ] || { cat "$work/apt.log" >&2; say "no version of $s could be fetched"; exit 1; }
  # apt checked the files against the archive's signed index; the unpacking applies Debian's patches.
  dsc="$(ls "$work/src/${s}_${ok#*:}.dsc")"
  (cd "$work/src" && dpkg-source --no-check -x "$dsc" "$s" >/dev/null)
  fetched+=("$s=$ok")
done
say "building ${fetched[*]}"

cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_INSTALL_PREFIX="$prefix.partial" -DTORVO_WINDOWS_DEPS="$prefix.partial"
       -DCMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-}"
       -DCMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-}")
jobs="$(nproc)"
build() {  # name, source folder, extra cmake arguments...
  local name="$1" source="$2"
  shift 2
  if ! { cmake -S "$source" -B "$work/build-$name" "${cross[@]}" "$@" &&
         cmake --build "$work/build-$name" -j "$jobs" &&
         cmake --install "$work/build-$name"; } >"$work/$name.log" 2>&1; then
    tail -40 "$work/$name.log" >&2
    say "building $name failed"
    exit 1
  fi
}
build libpng "$work/src/libpng1.6" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
  -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON -DZLIB_USE_STATIC_LIBS=ON
build freeimage "$here/cmake/windows-deps/freeimage" -DFREEIMAGE_SOURCE="$work/src/freeimage" \
  -DZLIB_USE_STATIC_LIBS=ON -DPNG_PNG_INCLUDE_DIR="$prefix.partial/include" \
  -DPNG_LIBRARY="$prefix.partial/lib/libpng16.a"
build libdeflate "$here/cmake/windows-deps/libdeflate" -DLIBDEFLATE_SOURCE="$work/src/libdeflate"
build googletest "$work/src/googletest" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF \
  -DBUILD_SHARED_LIBS=OFF

printf '%s\n' "${fetched[@]}" >"$prefix.partial/sources"
rm -rf "$prefix"
mv "$prefix.partial" "$prefix"
touch "$prefix/complete"
say "built in $(( $(date +%s) - started )) s into $prefix"
echo "$prefix"
