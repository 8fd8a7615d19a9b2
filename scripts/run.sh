#!/usr/bin/env bash
# Sets up a fresh machine, builds Tolvane, makes the sample disc and demuxes it with the
# command-line front end into out/demuxed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh"
"$root/scripts/build.sh" release
bin="$root/build/release/bin"
"$bin/make_sample_disc" "$root/out/sample"
mkdir -p "$root/out/demuxed"
"$bin/tolvane-cli" demux "$root/out/sample/DISC/HVDVD_TS/FEATURE_1.EVO" -o "$root/out/demuxed"
echo
echo "Demuxed streams in $root/out/demuxed:"
ls -l "$root/out/demuxed"
