#!/usr/bin/env bash
# Builds two commits of tolvane-cli and runs both over the same command lines: the sample disc
# and its image, titles that ffmpeg's dvd, vob and mpeg muxers write, and a DVD that dvdauthor
# authors (a folder and its image; a title of two parts with subtitles, as VobSub and .sup), and
# runs that a signal cancels. Compares standard output, standard error, exit status and every
# file written, and prints what differs.
#   scripts/compare-builds.sh OLD NEW     (commits, branches or tags; NEW may be a work tree path)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if (($# != 2)); then
    echo "usage: scripts/compare-builds.sh OLD NEW" >&2
    exit 2
fi
work="$root/build/compare"
rm -rf "$work/run-old" "$work/run-new"
mkdir -p "$work/inputs"

build() {  # build NAME REV: the CLI and the sample disc maker of REV in $work/NAME
    local name="$1" rev="$2" source="$work/src-$1" tree
    if [ -d "$rev" ]; then
        source="$(cd "$rev" && pwd)"
        tree="$source"
    else
        rm -rf "$source"
        mkdir -p "$source"
        git -C "$root" archive "$rev" | tar -x -C "$source"
        tree="$(git -C "$root" rev-parse "$rev^{tree}")"
    fi
    # A build folder made from another source tree is made anew: the files git archive writes
    # carry their commit's time, which can be older than the objects of the tree built before.
    if [ "$(cat "$work/build-$name/source-tree" 2>/dev/null)" != "$tree" ]; then
        rm -rf "$work/build-$name"
        mkdir -p "$work/build-$name"
        echo "$tree" >"$work/build-$name/source-tree"
    fi
    cmake -S "$source" -B "$work/build-$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF >/dev/null
    cmake --build "$work/build-$name" -j "$(nproc)" --target tolvane-cli make_sample_disc \
        >/dev/null
}
build old "$1"
build new "$2"

inputs="$work/inputs"
if [ ! -d "$inputs/sample/DISC" ]; then
    "$work/build-new/bin/make_sample_disc" "$inputs/sample" >/dev/null
fi
mux() {  # mux FILE ARGS...: a title from ffmpeg's test sources, made once
    local file="$inputs/$1"
    shift
    [ -f "$file" ] || ffmpeg -v error -y "$@" "$file"
}
video=(-f lavfi -i "testsrc2=size=720x480:rate=30000/1001:duration=3")
tone() { echo "sine=frequency=$1:sample_rate=48000:duration=3"; }
mux MIX.VOB "${video[@]}" -f lavfi -i "$(tone 440)" -f lavfi -i "$(tone 550)" \
    -f lavfi -i "$(tone 660)" -f lavfi -i "$(tone 770)" -map 0 -map 1 -map 2 -map 3 -map 4 \
    -c:v mpeg2video -c:a:0 ac3 -c:a:1 dts -strict -2 -c:a:2 pcm_s16be -c:a:3 mp2 -f dvd
mux AVC.VOB "${video[@]}" -f lavfi -i "$(tone 440)" -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -c:a ac3 -f vob
mux SYSTEM.MPG -f lavfi -i "testsrc2=size=352x240:rate=25:duration=3" -f lavfi -i "$(tone 440)" \
    -f lavfi -i "$(tone 550)" -map 0 -map 1 -map 2 -c:v mpeg1video -c:a:0 mp2 -c:a:1 ac3 \
    -f mpeg

# A DVD of two title sets, the first of two separately encoded parts with subtitles in each,
# and its image; the sample HD DVD's image.
if [ ! -f "$inputs/dvd.iso" ]; then
    (
        cd "$inputs"
        export VIDEO_FORMAT=PAL
        for part in 1 2; do
            ffmpeg -v error -y -f lavfi -i "testsrc2=size=720x576:rate=25:duration=$((3 + part))" \
                -f lavfi -i "$(tone 440)" -shortest -target pal-dvd -b:v 1M "part$part.mpg"
        done
        ffmpeg -v error -y -f lavfi -i \
            'color=c=black@0.0:s=720x576,format=rgba,drawbox=x=100:y=400:w=300:h=60:color=white@1:t=fill' \
            -frames:v 1 sub.png
        printf '%s\n' '<subpictures><stream>' \
            '<spu start="00:00:01.20" end="00:00:02.50" image="sub.png"/>' \
            '<spu start="00:00:02.40" end="00:00:02.90" image="sub.png"/>' \
            '</stream></subpictures>' >sub.xml
        for part in 1 2; do spumux -s 0 sub.xml <"part$part.mpg" >"subs$part.mpg" 2>/dev/null; done
        rm -rf DVD
        dvdauthor -o DVD -t -a ac3+en -s de subs1.mpg subs2.mpg 2>/dev/null
        dvdauthor -o DVD -t part1.mpg 2>/dev/null
        dvdauthor -o DVD -T 2>/dev/null
        genisoimage -quiet -dvd-video -o dvd.iso DVD
        genisoimage -quiet -udf -o hddvd.iso sample/DISC
    )
fi

disc="$inputs/sample/DISC"
feature="$disc/HVDVD_TS/FEATURE_1.EVO"
commands=(
    "read $feature"
    "read $feature --full --json"
    "read $feature --no-continue --no-details"
    "demux $feature -o out"
    "demux $feature --full --no-continue -o out --delay-names --ext-by-coding"
    "demux $feature -o out --select cbVideo0,DD.stream.00 --json"
    "demux $feature -o out --no-details --delay-names --select cbAudio00,cbAudio01,cbSub00"
    "rebuild $feature -o out --select cbVideo0,cbAudio02"
    "rebuild $feature -o out --full --adv-packs --json"
    "xpl $disc/ADV_OBJ/VPLST000.XPL --source $feature --chapters out/chapters.xml"
    "xpl $disc/ADV_OBJ/VPLST000.XPL --source $feature --json"
)
dvd="$inputs/DVD"
commands+=(
    "titles $dvd --json"
    "titles $inputs/dvd.iso"
    "read $dvd --title 1 --json"
    "read $inputs/dvd.iso --title 2 --full"
    "demux $dvd --title 1 -o out --json"
    "demux $inputs/dvd.iso --title 1 -o out --sub-format sup"
    "read $dvd/VIDEO_TS/VTS_01_1.VOB --full --json"
    "titles $disc --json"
    "read $disc --title 1 --json"
    "demux $disc --title 1 -o out"
    "demux $inputs/hddvd.iso --title 1 -o out --json"
)
for title in MIX.VOB AVC.VOB SYSTEM.MPG; do
    commands+=("read $inputs/$title --full --json" "demux $inputs/$title --full -o out --ext-by-coding")
done

differing=0
for k in "${!commands[@]}"; do
    for name in old new; do
        run="$work/run-$name/$k"
        mkdir -p "$run/out"
        # shellcheck disable=SC2086 # the command lines are split into words on purpose
        (cd "$run" && set +e && "$work/build-$name/bin/tolvane-cli" ${commands[$k]} --color never \
            >stdout 2>stderr; echo $? >status) || true
    done
    if diff -r "$work/run-old/$k" "$work/run-new/$k" >"$work/diff-$k.txt"; then
        echo "identical: ${commands[$k]}"
    else
        differing=$((differing + 1))
        echo "DIFFERS:   ${commands[$k]}"
        sed 's/^/    /' "$work/diff-$k.txt" | head -n 40
    fi
done
# Cancelled runs: a signal stops each build part way through a long source. Where it stops
# depends on the clock, so what must agree is the exit status, the log's last line, the files
# written (kept, not half-hidden) and their bytes as far as both builds wrote them.
if [ ! -f "$inputs/LONG.VOB" ]; then
    for _ in $(seq 600); do cat "$inputs/MIX.VOB"; done >"$inputs/LONG.VOB"
fi
# Each with the seconds after which the signal comes: a read goes at the speed of the disk cache.
cancelled=(
    "0.08 read $inputs/LONG.VOB --full"
    "0.3 demux $inputs/LONG.VOB --full -o out"
)
for k in "${!cancelled[@]}"; do
    for name in old new; do
        run="$work/run-$name/cancelled-$k"
        mkdir -p "$run/out"
        read -r after command <<<"${cancelled[$k]}"
        # shellcheck disable=SC2086 # the command lines are split into words on purpose
        (cd "$run" && set +e && timeout --preserve-status -s INT "$after" \
            "$work/build-$name/bin/tolvane-cli" $command --color never >stdout 2>stderr
            echo $? >status) || true
    done
    old="$work/run-old/cancelled-$k" new="$work/run-new/cancelled-$k" same=1
    # A run the signal did not stop (status 130) tells nothing: it counts as differing.
    [ "$(cat "$old/status")" = 130 ] && [ "$(cat "$new/status")" = 130 ] || same=0
    [ "$(tail -n 2 "$old/stdout")" = "$(tail -n 2 "$new/stdout")" ] || same=0
    [ "$(cd "$old/out" && ls)" = "$(cd "$new/out" && ls)" ] || same=0
    for file in "$old"/out/*; do
        [ -e "$file" ] || continue
        other="$new/out/$(basename "$file")"
        size=$(stat -c %s "$file")
        [ "$(stat -c %s "$other" 2>/dev/null || echo 0)" -lt "$size" ] && size=$(stat -c %s "$other")
        cmp -s -n "$size" "$file" "$other" || same=0
    done
    if ((same)); then
        echo "agree:     ${cancelled[$k]} (cancelled; status $(cat "$new/status"))"
    else
        differing=$((differing + 1))
        echo "DIFFERS:   ${cancelled[$k]} (cancelled)"
        for name in old new; do
            echo "    $name: status $(cat "$work/run-$name/cancelled-$k/status"), $(tail -n 1 \
                "$work/run-$name/cancelled-$k/stdout"), files: $(ls "$work/run-$name/cancelled-$k/out" | tr '\n' ' ')"
        done
    fi
done
echo "$differing of $((${#commands[@]} + ${#cancelled[@]})) command lines differ"
