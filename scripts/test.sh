#!/usr/bin/env bash
# Sets up a fresh machine and runs the whole suite twice: a normal build, then a build under
# AddressSanitizer and UndefinedBehaviorSanitizer that stops at the first error.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"

"$root/scripts/setup.sh" --with-test-tools

echo "== Normal build"
"$root/scripts/build.sh" release
ctest --test-dir "$root/build/release" --output-on-failure -j "$jobs"

echo "== Install tree and Debian package"
"$root/scripts/check-install.sh" "$root/build/release" --deb

echo "== Fuzz targets, 30 s each"
"$root/scripts/fuzz.sh" 30

echo "== Sanitizer build"
"$root/scripts/build.sh" sanitize -DTOLVANE_SANITIZE=ON -DTOLVANE_BUILD_BENCH=OFF
ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir "$root/build/sanitize" --output-on-failure --stop-on-failure -j "$jobs"
