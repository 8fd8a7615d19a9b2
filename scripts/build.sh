#!/usr/bin/env bash
# Configures and builds one tree: scripts/build.sh NAME [cmake options...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
name="$1"
shift
cmake -S "$root" -B "$root/build/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_WERROR=ON "$@" >/dev/null
cmake --build "$root/build/$name" -j "$(nproc)"
