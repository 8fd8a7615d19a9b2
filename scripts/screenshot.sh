#!/usr/bin/env bash
# Remakes docs/screenshot.png: the desktop window after reading the sample disc, on a virtual
# X display (Xvfb), captured with ffmpeg's x11grab and cut to the window with python3. Needs xvfb
# and xauth (installed when missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh"
if ! command -v Xvfb >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends xvfb xauth
fi
"$root/scripts/build.sh" release
bin="$root/build/release/bin"
work="$(mktemp -d)"
trap 'kill "${app:-}" "${xvfb:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
"$bin/make_sample_disc" "$work" >/dev/null

display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 900x700x24 -nolisten tcp &
xvfb=$!
sleep 1
# A settings folder of its own: the window opens at its first size and place.
XDG_CONFIG_HOME="$work/config" DISPLAY="$display" \
    "$bin/tolvane" "$work/DISC/HVDVD_TS/FEATURE_1.EVO" &
app=$!
sleep 6
mkdir -p "$root/docs"
ffmpeg -v error -f x11grab -draw_mouse 0 -video_size 900x700 -i "$display" -frames:v 1 -y "$work/screen.png"
# The window sits at the top left of a black screen: keep the box of what is not black.
crop="$(ffmpeg -v error -i "$work/screen.png" -f rawvideo -pix_fmt gray - | python3 -c '
import sys
w, h = 900, 700
data = sys.stdin.buffer.read()
rows = [y for y in range(h) if any(data[y * w:(y + 1) * w])]
cols = [x for x in range(w) if any(data[y * w + x] for y in rows)]
print(f"crop={cols[-1] + 1}:{rows[-1] + 1}:0:0")')"
ffmpeg -v error -i "$work/screen.png" -vf "$crop" -y "$root/docs/screenshot.png"
echo "Screenshot written to $root/docs/screenshot.png"
