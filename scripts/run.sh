#!/usr/bin/env bash
# Sets up a fresh machine, builds Tolvane and runs the engine over a generated sample stream.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
"$root/build/release/tools/tolvane-read-sample" "$root/out/sample"
