#!/usr/bin/env bash
# Builds and runs the scanner benchmark: throughput as a ratio to memcpy in the same run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/bench/scanner_bench" "$@"
