#!/usr/bin/env bash
# Times tolvane-cli against its peers on a title of about MIB mebibytes (default 1024) made from
# real streams by ffmpeg: cat against `read --full`, cp against `demux --full` and `rebuild`
# (with its usual fast check), and ffmpeg's stream copy to the same two files against
# `demux --full`. Every round runs each command once on the same file, in the page cache, with
# sync between runs; the medians of the ROUNDS rounds (default 3), after one that warms up,
# give the ratios, each the peer's time over tolvane-cli's (above 1: tolvane-cli is faster).
# tolvane-cli syncs every output to disk before it gives it its name, so cp and ffmpeg sync the
# files they write too: the same work, the same promise after a power cut.
# The same title cut in two at a pack in its middle (VTS_02_1.VOB, VTS_02_2.VOB) is demuxed with
# the usual settings against cp of both files. With BEFORE set to another build's tolvane-cli,
# its read, demux and rebuild run in the same rounds, for a comparison in one run. `mkv` of the
# title in its disc image runs against cp of the title's bytes and against what a user does
# without it: `demux` of the title, then mkvmerge of its video and audio.
# The title authored by dvdauthor into a disc folder and a genisoimage image is read from the
# image (`read dvd.iso --title 1 --full`) against a read of the folder's VOB files.
# Prints the peak memory of each tolvane-cli command too.
# Usage: [BEFORE=OLD/tolvane-cli] bench/compare_peers.sh [MIB] [ROUNDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mib="${1:-1024}"
rounds="${2:-3}"

"$root/scripts/setup.sh" --with-bench-tools
"$root/scripts/build.sh" release >/dev/null
cli="$root/build/release/bin/tolvane-cli"
data="$root/build/peers-data"
out="$data/out"
mkdir -p "$data" "$out"

# A minute of MPEG-2 (720x576, 25 fps, 9 Mbit/s, GOP 12) and AC-3 5.1 at 448 kbit/s, muxed by
# ffmpeg's DVD muxer with its navigation packs, then repeated by stream copy up to the size.
title="$data/VTS_01_1.VOB"
want=$((mib * 1048576))
if [ ! -f "$title" ] || [ "$(stat -c %s "$title")" -lt $((want * 9 / 10)) ]; then
    echo "Making a title of about $mib MiB with ffmpeg..."
    ffmpeg -v fatal -f lavfi -i "testsrc2=size=720x576:rate=25:duration=60" \
        -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=60" \
        -c:v mpeg2video -b:v 9M -maxrate 9.5M -bufsize 1835k -g 12 \
        -c:a ac3 -ac 6 -b:a 448k -f dvd -y "$data/minute.vob"
    minute=$(stat -c %s "$data/minute.vob")
    loops=$(((want + minute - 1) / minute - 1))
    ffmpeg -v fatal -stream_loop "$loops" -i "$data/minute.vob" -map 0:v -map 0:a -c copy \
        -f dvd -y "$title"
    rm -f "$data/minute.vob"
fi
# The rebuild writes .EVO files and takes an .EVO source: the same bytes under that name.
ln -f "$title" "$data/TITLE.EVO"
size=$(stat -c %s "$title")
half=$((size / 2 / 2048 * 2048))
if [ ! -f "$data/VTS_02_2.VOB" ] || [ $(($(stat -c %s "$data/VTS_02_1.VOB") + \
    $(stat -c %s "$data/VTS_02_2.VOB"))) -ne "$size" ]; then
    head -c "$half" "$title" >"$data/VTS_02_1.VOB"
    tail -c +$((half + 1)) "$title" >"$data/VTS_02_2.VOB"
fi
image="$data/dvd.iso"
if [ ! -f "$image" ] || [ "$image" -ot "$title" ]; then
    echo "Authoring the title into a disc image..."
    rm -rf "$data/DISC"
    VIDEO_FORMAT=PAL dvdauthor -o "$data/DISC" -t "$title" 2>/dev/null
    VIDEO_FORMAT=PAL dvdauthor -o "$data/DISC" -T 2>/dev/null
    genisoimage -quiet -dvd-video -o "$image" "$data/DISC"
fi
cat "$data/DISC/VIDEO_TS/"VTS_01_*.VOB "$image" >/dev/null
cat "$data/VTS_02_1.VOB" "$data/VTS_02_2.VOB" >/dev/null
cat "$title" >/dev/null  # into the page cache

# Runs a command once; prints its seconds and peak memory in KiB.
timed() {
    rm -rf "$out" && mkdir -p "$out"
    sync
    local start end
    start=$(date +%s%N)
    /usr/bin/time -f "%M" -o "$data/peak" "$@" >/dev/null 2>"$data/stderr" ||
        { cat "$data/stderr"; exit 1; }
    end=$(date +%s%N)
    echo "$(((end - start) / 1000)) $(tail -n 1 "$data/peak")"
}

declare -A times peaks
commands=(cat read cp demux rebuild ffmpeg cp2 demux2 readvobs readimage mkv bymkvmerge)
before="${BEFORE:-}"
if [ -n "$before" ]; then
    commands+=(read-before demux-before rebuild-before demux2-before)
fi
# Round 0 is not counted: it warms the caches, and on a virtual machine it makes the host back
# the memory that new page-cache pages take, which the first writes pay for many times over.
for ((round = 0; round <= rounds; round++)); do
    for name in "${commands[@]}"; do
        program="$cli"
        if [[ "$name" == *-before ]]; then
            program="$before"
        fi
        case "${name%-before}" in
            cat) result=$(timed cat "$title") ;;
            read) result=$(timed "$program" read "$title" --full) ;;
            cp) result=$(timed sh -c 'cp "$0" "$1" && sync "$1"' "$title" "$out/copy.vob") ;;
            demux) result=$(timed "$program" demux "$title" --full -o "$out") ;;
            rebuild) result=$(timed "$program" rebuild "$data/TITLE.EVO" -o "$out") ;;
            cp2) result=$(timed sh -c 'cp "$0" "$1" "$2" && sync "$2"/*' "$data/VTS_02_1.VOB" \
                "$data/VTS_02_2.VOB" "$out") ;;
            demux2) result=$(timed "$program" demux "$data/VTS_02_1.VOB" -o "$out") ;;
            readvobs) result=$(timed "$program" read "$data/DISC/VIDEO_TS/VTS_01_1.VOB" --full) ;;
            readimage) result=$(timed "$program" read "$image" --title 1 --full) ;;
            mkv) result=$(timed "$program" mkv "$image" --title 1 -o "$out/title.mkv") ;;
            # What a user does without mkv: the title's streams, then mkvmerge of them.
            bymkvmerge) result=$(timed sh -c '"$0" demux "$1" --title 1 -o "$2" &&
                mkvmerge -q -o "$2/title.mkv" "$2"/*.mpv "$2"/*.mpa && sync "$2/title.mkv"' \
                "$program" "$image" "$out") ;;
            ffmpeg) result=$(timed sh -c 'ffmpeg -v error -i "$0" -map 0:v:0 -c copy \
                -f mpeg2video "$1/video.m2v" -map 0:a:0 -c copy -f ac3 "$1/audio.ac3" &&
                sync "$1/video.m2v" "$1/audio.ac3"' "$title" "$out") ;;
        esac
        if ((round > 0)); then
            times[$name]+="${result% *} "
        fi
        peaks[$name]=$(( ${peaks[$name]:-0} > ${result#* } ? ${peaks[$name]:-0} : ${result#* } ))
    done
done
rm -rf "$out"

median() {
    tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}
declare -A med
for name in "${commands[@]}"; do
    med[$name]=$(median "${times[$name]}")
done
ratio() {
    awk -v peer="${med[$1]}" -v own="${med[$2]}" 'BEGIN { printf "%.2f", peer / own }'
}

echo "File: $title, $((size / 1048576)) MiB, $rounds rounds; $(nproc) cores, $(uname -r)"
for name in "${commands[@]}"; do
    printf "%-9s median %8.3f s  (rounds: %s)  peak %d MiB\n" "$name" \
        "$(awk -v us="${med[$name]}" 'BEGIN { print us / 1e6 }')" \
        "$(for t in ${times[$name]}; do awk -v us="$t" 'BEGIN { printf "%.3f ", us / 1e6 }'; done)" \
        "$((peaks[$name] / 1024))"
done
echo "read --full  : $(ratio cat read) x cat"
echo "demux --full : $(ratio cp demux) x cp, $(ratio ffmpeg demux) x ffmpeg stream copy"
echo "rebuild      : $(ratio cp rebuild) x cp"
echo "demux, 2 files: $(ratio cp2 demux2) x cp of both files (usual settings)"
echo "title, image : $(ratio readvobs readimage) x the read of its VOB files"
echo "mkv, image   : $(ratio cp mkv) x cp of the title's bytes, $(ratio bymkvmerge mkv) x demux and mkvmerge"
if [ -n "$before" ]; then
    echo "before ($before):"
    echo "  read --full  : $(ratio cat read-before) x cat"
    echo "  demux --full : $(ratio cp demux-before) x cp, $(ratio ffmpeg demux-before) x ffmpeg"
    echo "  rebuild      : $(ratio cp rebuild-before) x cp"
    echo "  demux, 2 files: $(ratio cp2 demux2-before) x cp of both files"
fi
echo "peak memory  : read $((peaks[read] / 1024)) MiB, demux $((peaks[demux] / 1024)) MiB, rebuild $((peaks[rebuild] / 1024)) MiB, mkv $((peaks[mkv] / 1024)) MiB"
