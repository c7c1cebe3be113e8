#!/usr/bin/env bash
# Installs the host toolchain for building and testing Kelvoran on Debian 12.
# Idempotent: does nothing (and prints nothing) when everything is present.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev # libFuzzer and the sanitizers for clang
  libgtest-dev googletest libgmock-dev libbenchmark-dev
  python3
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64
  dpkg-dev # apt-get source / dpkg-source for tools/build-windows-curl.sh
  make autoconf automake libtool pkg-config
)

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
  else
    echo "install-deps.sh: must run as root (no sudo available)" >&2
    exit 1
  fi
fi

is_installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]
}

missing=()
for p in "${PACKAGES[@]}"; do
  is_installed "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps.sh: installing: ${missing[*]}"
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# Mixing wine32/i386 into this setup breaks 64-bit Wine.
if is_installed wine32; then
  echo "install-deps.sh: removing wine32"
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q wine32
fi
if dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps.sh: removing foreign architecture i386"
  "${SUDO[@]}" dpkg --remove-architecture i386 ||
    echo "install-deps.sh: warning: i386 packages still installed; remove them first" >&2
fi

# The win32 thread model lacks std::thread/std::mutex; select posix.
for triplet in x86_64-w64-mingw32 i686-w64-mingw32; do
  for tool in gcc g++; do
    name="$triplet-$tool"
    want="/usr/bin/$name-posix"
    current="$(update-alternatives --query "$name" 2>/dev/null | sed -n 's/^Value: //p')"
    if [ "$current" != "$want" ]; then
      "${SUDO[@]}" update-alternatives --quiet --set "$name" "$want"
    fi
  done
done
