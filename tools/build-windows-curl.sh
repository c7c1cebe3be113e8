#!/usr/bin/env bash
# Builds a statically linked 64-bit Windows curl.exe from Debian's curl source
# package, for exercising download code under Wine. The result is cached
# outside the repo clone so clean checkouts and CI reruns reuse it.
# The last line of stdout is the absolute path of curl.exe; everything else
# goes to stderr or to the build log in the cache dir.
set -euo pipefail

HOST=x86_64-w64-mingw32
SOURCES_FILE=/etc/apt/sources.list.d/debian.sources

log() { echo "build-windows-curl.sh: $*" >&2; }
die() { log "error: $*"; exit 1; }

# Canonical absolute path, resolved before anything is created.
CACHE_DIR="$(realpath -m "${KELVORAN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kelvoran}")"

# A cache inside the clone would be picked up by git and wiped by clean.
REPO_ROOT="$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel 2>/dev/null || true)"
if [ -n "$REPO_ROOT" ]; then
  REPO_ROOT="$(realpath -m "$REPO_ROOT")"
  case "$CACHE_DIR/" in
    "$REPO_ROOT"/*) die "cache dir $CACHE_DIR is inside the repo clone; set KELVORAN_CACHE elsewhere" ;;
  esac
fi
mkdir -p "$CACHE_DIR"

SUDO=()
if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo)
fi

# Debian source version apt would fetch, resolved from local indexes only.
source_version() {
  apt-get source --print-uris curl 2>/dev/null |
    awk '$2 ~ /^curl_.*\.dsc$/ { sub(/^curl_/, "", $2); sub(/\.dsc$/, "", $2); print $2; exit }'
}

cached_exe() { echo "$CACHE_DIR/curl-$1-$2/curl.exe"; }

# Fast path: no lock, no apt changes, no network.
VERSION="$(source_version || true)"
if [ -n "$VERSION" ] && [ -f "$(cached_exe "$VERSION" x86_64)" ]; then
  cached_exe "$VERSION" x86_64
  exit 0
fi
if [ -z "$VERSION" ] && ! grep -Eq '^Types:.*deb-src' "$SOURCES_FILE" 2>/dev/null; then
  # Avoid needing root only to locate an existing build.
  newest="$(find "$CACHE_DIR" -mindepth 2 -maxdepth 2 -path '*/curl-*-x86_64/curl.exe' 2>/dev/null | sort -V | tail -n 1)"
  if [ -n "$newest" ]; then
    echo "$newest"
    exit 0
  fi
fi

for tool in "$HOST-gcc" "$HOST-objdump" dpkg-source make flock; do
  command -v "$tool" >/dev/null 2>&1 || die "$tool not found; run tools/install-deps.sh"
done

LOG="$CACHE_DIR/build-curl-x86_64.log"
exec 9>"$CACHE_DIR/build-curl.lock"
log "waiting for lock $CACHE_DIR/build-curl.lock"
flock 9

# Another process may have finished this build while we waited; keep its log.
VERSION="$(source_version || true)"
if [ -n "$VERSION" ] && [ -f "$(cached_exe "$VERSION" x86_64)" ]; then
  cached_exe "$VERSION" x86_64
  exit 0
fi

: >"$LOG"
on_exit() {
  local rc=$?
  if [ "$rc" -ne 0 ]; then
    log "failed (exit $rc); last lines of $LOG:"
    tail -n 40 "$LOG" >&2 || true
  fi
}
trap on_exit EXIT

# Source indexes are needed to resolve and fetch the package.
if [ -z "$(source_version || true)" ]; then
  [ -f "$SOURCES_FILE" ] || die "$SOURCES_FILE not found; enable deb-src for curl manually"
  if grep -E '^Types:' "$SOURCES_FILE" | grep -vq 'deb-src'; then
    log "enabling deb-src in $SOURCES_FILE"
    "${SUDO[@]}" sed -i -E '/^Types:/{/deb-src/!s/[[:space:]]*$/ deb-src/}' "$SOURCES_FILE"
  fi
  log "running apt-get update"
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q >>"$LOG" 2>&1
fi
VERSION="$(source_version || true)"
[ -n "$VERSION" ] || die "cannot resolve curl source version (apt-get source --print-uris curl)"

DEST_DIR="$CACHE_DIR/curl-$VERSION-x86_64"
DEST="$DEST_DIR/curl.exe"
# Only reachable right after enabling deb-src or an index refresh.
if [ -f "$DEST" ]; then
  echo "$DEST"
  exit 0
fi

# Fixed name under the lock: a leftover from a failed run is simply replaced.
WORK="$CACHE_DIR/work-curl-$VERSION-x86_64"
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

log "fetching curl $VERSION source (log: $LOG)"
apt-get source --download-only "curl=$VERSION" >>"$LOG" 2>&1
dpkg-source -x "curl_$VERSION.dsc" src >>"$LOG" 2>&1
cd src

# Keep the build host's .pc files (e.g. libpsl, zstd) out of a cross build.
mkdir -p "$WORK/empty-pkgconfig"
export PKG_CONFIG_LIBDIR="$WORK/empty-pkgconfig" PKG_CONFIG_PATH=""

log "configuring"
./configure --host="$HOST" --disable-shared --enable-static \
  --without-ssl --without-zlib --without-brotli --without-zstd \
  --without-libpsl --without-libidn2 --without-nghttp2 --without-libssh2 \
  --disable-ldap --disable-ldaps --disable-manual \
  LDFLAGS=-static >>"$LOG" 2>&1

log "building (a few minutes)"
make -j2 -C lib >>"$LOG" 2>&1
# libtool strips a plain -static when linking programs; -all-static keeps
# libwinpthread/libgcc out of the import table.
make -j2 -C src LDFLAGS=-all-static >>"$LOG" 2>&1

EXE="$WORK/src/src/curl.exe"
[ -f "$EXE" ] || die "build produced no $EXE"
"$HOST-objdump" -f "$EXE" | grep -q 'pei-x86-64' || die "$EXE is not a 64-bit PE image"

# Must run on a bare Windows (or Wine) install: system DLLs only.
dlls="$("$HOST-objdump" -p "$EXE" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')"
[ -n "$dlls" ] || die "no DLL imports found in $EXE"
bad="$(echo "$dlls" | grep -Eiv '^(api-ms-win-.*|kernel32|kernelbase|ntdll|user32|gdi32|advapi32|shell32|ole32|oleaut32|rpcrt4|shlwapi|userenv|version|ws2_32|wsock32|mswsock|iphlpapi|dnsapi|secur32|crypt32|bcrypt|ncrypt|normaliz|wldap32|winmm|msvcrt|ucrtbase)\.dll$' || true)"
[ -z "$bad" ] || die "non-system DLL imports: $(echo "$bad" | tr '\n' ' ')"
echo "imports: $(echo "$dlls" | tr '\n' ' ')" >>"$LOG"

mkdir -p "$DEST_DIR"
tmp="$DEST_DIR/.curl.exe.tmp.$$"
cp "$EXE" "$tmp"
mv -f "$tmp" "$DEST"

cd "$CACHE_DIR"
rm -rf "$WORK"
log "built $DEST"
echo "$DEST"
