#!/usr/bin/env bash
# The main job, from a fresh Debian machine: installs what is missing, builds
# the 64-bit kelvoran.exe and a Windows curl.exe, then installs and runs the
# service under Wine against a local HTTP server (tools/demo.py).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
curl_exe=$(tools/build-windows-curl.sh | tail -n 1)
cmake --preset windows >/dev/null
cmake --build --preset windows --target kelvoran
exec python3 tools/demo.py build/windows/kelvoran.exe "$curl_exe"
