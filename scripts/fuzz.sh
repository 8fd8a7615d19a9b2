#!/usr/bin/env bash
# Builds the fuzz targets with clang (build/fuzz), writes their seed corpora and runs each for
# SECONDS (default 30), printing the coverage it reached. A longer run: scripts/fuzz.sh 300
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
build="$root/build/fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVANE_FUZZ=ON -DTOLVANE_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_passes fuzz_one_pass fuzz_analysers \
    fuzz_playlist fuzz_markup fuzz_cli fuzz_outputs make_seeds >/dev/null
corpus="$build/corpus"
"$build/bin/make_seeds" "$corpus"
for name in passes one_pass analysers playlist markup cli outputs; do
    mkdir -p "$corpus/$name"
    log="$build/fuzz_$name.log"
    # The seeds stay as they are: what the run finds goes to a folder of its own.
    mkdir -p "$build/found/$name"
    if ! "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$build/found/$name" "$corpus/$name" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz_$name found a fault: see $log"
        exit 1
    fi
    echo "fuzz_$name: $(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1), $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2) runs in ${seconds} s"
done
