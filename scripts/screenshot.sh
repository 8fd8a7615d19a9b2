#!/usr/bin/env bash
# Remakes the window's screenshots on a virtual X display (Xvfb), captured with ffmpeg's x11grab
# and cut to the window with python3:
#   docs/screenshot.png        the sample HD DVD disc's feature read, the desktop's light theme,
#                              at the window's smallest size (its first)
#   docs/screenshot-dark.png   the same in a dark theme (TOLVANE_THEME=dark)
#   docs/screenshot-large.png  the same at 880x640, light, and docs/screenshot-large-dark.png
#   docs/screenshot-dvd.png    a DVD disc that dvdauthor authors, its titles listed and one read
# The discs are made in a folder of their own and given by relative paths, so that no
# temporary folder's name shows. Needs xvfb, xauth and dvdauthor (installed when missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh" --with-bench-tools
if ! command -v Xvfb >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends xvfb xauth
fi
"$root/scripts/build.sh" release
bin="$root/build/release/bin"
work="$(mktemp -d)"
trap 'kill "${app:-}" "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/Videos" "$root/docs"
"$bin/make_sample_disc" "$work/Videos" >/dev/null

# A DVD disc of one title: 6 s of MPEG-2 with AC-3 in two languages, three chapters.
(
    cd "$work"
    ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=6 \
        -f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 \
        -f lavfi -i sine=frequency=660:sample_rate=48000:duration=6 \
        -map 0 -map 1 -map 2 -c:v mpeg2video -b:v 5M -aspect 16:9 -c:a ac3 -b:a 192k \
        -f dvd -y title.mpg
    VIDEO_FORMAT=PAL dvdauthor -o Videos/DVD -t -a ac3+en,ac3+de -c 0,2,4 title.mpg 2>/dev/null
    VIDEO_FORMAT=PAL dvdauthor -o Videos/DVD -T 2>/dev/null
)

display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 900x700x24 -nolisten tcp &
xvfb=$!
sleep 1

# Starts the window on `source` (relative to the Videos folder) with `theme`, waits for its
# read, and keeps the window's box of the screen as `output`.
shoot() {
    local source="$1" theme="$2" output="$3" size="${4:-}"
    # A settings folder of its own: the window opens at its first size and place, or at the
    # size its settings give.
    rm -rf "$work/config"
    if [ -n "$size" ]; then
        mkdir -p "$work/config/Quendle Software"
        printf '[Software]\nQuendle%%20Software\\Tolvane\\Width=%s\nQuendle%%20Software\\Tolvane\\Height=%s\n' \
            "${size%x*}" "${size#*x}" > "$work/config/Quendle Software/Tolvane.ini"
    fi
    (cd "$work/Videos" && XDG_CONFIG_HOME="$work/config" DISPLAY="$display" \
        TOLVANE_THEME="$theme" "$bin/tolvane" "$source") &
    app=$!
    sleep 6
    ffmpeg -v error -f x11grab -draw_mouse 0 -video_size 900x700 -i "$display" -frames:v 1 \
        -y "$work/screen.png"
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    # The window sits at the top left of a black screen: keep the box of what is not black.
    local crop
    crop="$(ffmpeg -v error -i "$work/screen.png" -f rawvideo -pix_fmt gray - | python3 -c '
import sys
w, h = 900, 700
data = sys.stdin.buffer.read()
rows = [y for y in range(h) if any(data[y * w:(y + 1) * w])]
cols = [x for x in range(w) if any(data[y * w + x] for y in rows)]
print(f"crop={cols[-1] + 1}:{rows[-1] + 1}:0:0")')"
    ffmpeg -v error -i "$work/screen.png" -vf "$crop" -y "$root/docs/$output"
    echo "Screenshot written to $root/docs/$output"
}

shoot DISC/HVDVD_TS/FEATURE_1.EVO light screenshot.png
shoot DISC/HVDVD_TS/FEATURE_1.EVO dark screenshot-dark.png
shoot DISC/HVDVD_TS/FEATURE_1.EVO light screenshot-large.png 880x640
shoot DISC/HVDVD_TS/FEATURE_1.EVO dark screenshot-large-dark.png 880x640
shoot DVD dark screenshot-dvd.png
