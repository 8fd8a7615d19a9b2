#!/usr/bin/env bash
# Builds the fuzz targets with clang (build/fuzz), writes their seed corpora and runs each for
# SECONDS (default 30), printing the coverage it reached. A longer run: scripts/fuzz.sh 300;
# some targets only: scripts/fuzz.sh 300 discs udf dvd_image
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
build="$root/build/fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTOLVANE_FUZZ=ON -DTOLVANE_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_passes fuzz_one_pass fuzz_analysers \
    fuzz_playlist fuzz_markup fuzz_cli fuzz_outputs fuzz_discs fuzz_udf fuzz_dvd_image make_seeds >/dev/null
corpus="$build/corpus"
"$build/bin/make_seeds" "$corpus"
# The disc reader starts from the information files of a disc dvdauthor makes, where it can: the
# length of VIDEO_TS.IFO in two bytes, low first, then it and VTS_01_0.IFO.
mkdir -p "$corpus/discs"
if command -v dvdauthor >/dev/null && command -v ffmpeg >/dev/null; then
    work="$build/disc-seed"
    rm -rf "$work"
    mkdir -p "$work"
    (cd "$work" && export VIDEO_FORMAT=PAL &&
        ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=1 \
            -f lavfi -i sine=sample_rate=48000:duration=1 -target pal-dvd -b:v 300k t.mpg &&
        dvdauthor -o D -t -a ac3+en -c 0 t.mpg 2>/dev/null && dvdauthor -o D -T 2>/dev/null)
    vmg="$work/D/VIDEO_TS/VIDEO_TS.IFO"
    size=$(stat -c %s "$vmg")
    {
        printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $((size >> 8)))"
        cat "$vmg" "$work/D/VIDEO_TS/VTS_01_0.IFO"
    } >"$corpus/discs/authored"
    # The image target starts from the same disc in an image.
    mkdir -p "$corpus/dvd_image"
    if command -v genisoimage >/dev/null; then
        genisoimage -quiet -dvd-video -o "$corpus/dvd_image/authored.iso" "$work/D"
    fi
fi
# The HD DVD reader starts from a small UDF image of an HD DVD folder: a playlist of one title
# and a clip of a few packs.
mkdir -p "$corpus/udf"
if command -v genisoimage >/dev/null; then
    work="$build/udf-seed"
    rm -rf "$work"
    mkdir -p "$work/D/HVDVD_TS" "$work/D/ADV_OBJ"
    head -c 8192 /dev/zero >"$work/D/HVDVD_TS/FEATURE_1.EVO"
    printf '%s\n' '<Playlist><TitleSet timeBase="60fps"><Title titleNumber="1">' \
        '<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP"/>' \
        '<Audio streamNumber="1" langcode="en:00"/></Title></TitleSet></Playlist>' \
        >"$work/D/ADV_OBJ/VPLST000.XPL"
    genisoimage -quiet -udf -o "$corpus/udf/sample.iso" "$work/D"
fi
targets=("${@:2}")
if ((${#targets[@]} == 0)); then
    targets=(passes one_pass analysers playlist markup cli outputs discs udf dvd_image)
fi
for name in "${targets[@]}"; do
    mkdir -p "$corpus/$name"
    log="$build/fuzz_$name.log"
    # The seeds stay as they are: what the run finds goes to a folder of its own. So do the
    # inputs that stop the disc reader's child process, which the target survives by design.
    mkdir -p "$build/found/$name" "$build/artifacts/$name"
    # The DVD targets parse information files in this process, where libdvdread's own faults
    # (a block freed twice) stop it: they run in fork mode, which goes on past them, and each
    # input that stopped a run is tried again below the way users open a disc.
    # libdvdread asks for gigabytes on some damaged files and leaks on others, which it survives
    # outside the sanitizer: a null for an allocation too large, and its leaks left out.
    apart=()
    sanitizer="${ASAN_OPTIONS:-}"
    case "$name" in
        discs | dvd_image)
            apart=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -malloc_limit_mb=8192)
            sanitizer="allocator_may_return_null=1"
            ;;
    esac
    run=("$build/bin/fuzz_$name" -timeout=10 -rss_limit_mb=2048)
    status=0
    ASAN_OPTIONS="$sanitizer" LSAN_OPTIONS="suppressions=$root/fuzz/libdvdread.supp" \
        "${run[@]}" -max_total_time="$seconds" "${apart[@]}" \
        -artifact_prefix="$build/artifacts/$name/" -print_final_stats=1 \
        "$build/found/$name" "$corpus/$name" >"$log" 2>&1 || status=$?
    # Fork mode ends with the status of its last run, whatever it ignored: its inputs that
    # stopped a run speak instead.
    if ((status != 0 && ${#apart[@]} == 0)); then
        tail -n 40 "$log"
        echo "fuzz_$name found a fault: see $log"
        exit 1
    fi
    if ((${#apart[@]} > 0)); then
        kept=0
        for input in "$build/artifacts/$name"/*; do
            [ -f "$input" ] || continue
            # Where it stops in-process: the first frame past the sanitizer's and the fuzzer's
            # own must be libdvdread's, and users, who parse apart, must survive it.
            ASAN_OPTIONS="$sanitizer" LSAN_OPTIONS="suppressions=$root/fuzz/libdvdread.supp" \
                timeout 60 "${run[@]}" "$input" >"$log.again" 2>&1 || true
            where=$(grep -E '^ *#[0-9]+ 0x[0-9a-f]+ in ' "$log.again" |
                grep -vE ' in (__interceptor_|__asan|__sanitizer|__lsan|fuzzer::|operator |(m|c|re)alloc|free)' |
                head -n 1 || true)
            if [ -n "$where" ] && [[ "$where" != *libdvdread.so* ]]; then
                tail -n 40 "$log.again"
                echo "fuzz_$name found a fault of the program's: $input, see $log.again"
                exit 1
            fi
            if ! TOLVANE_FUZZ_USER_PATH=1 ASAN_OPTIONS="$sanitizer" \
                LSAN_OPTIONS="suppressions=$root/fuzz/libdvdread.supp" timeout 60 \
                "${run[@]}" "$input" >"$log.again" 2>&1; then
                tail -n 40 "$log.again"
                echo "fuzz_$name found a fault that users meet: $input, see $log.again"
                exit 1
            fi
            kept=$((kept + 1))
        done
        echo "fuzz_$name: $kept inputs that stop libdvdread in-process, survived as users open discs"
    fi
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
    # Fork mode counts its runs in its progress lines ("#2249: cov: ...").
    [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*: cov' "$log" | tail -n 1 | tr -dc 0-9 || true)
    echo "fuzz_$name: $(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1), corpus $(find "$build/found/$name" -type f | wc -l), ${runs:-0} runs in ${seconds} s"
done
