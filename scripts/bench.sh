#!/usr/bin/env bash
# Builds and runs the benchmarks: the scanner against memcpy, the demux job against cp, each
# measured in the same run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/bin/scanner_bench" "${SCANNER_MIB:-256}"
"$root/build/release/bin/demux_bench" "$root/build/bench-data" "${DEMUX_MIB:-1024}"
