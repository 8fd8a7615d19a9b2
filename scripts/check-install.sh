#!/usr/bin/env bash
# Installs a build tree into a staging folder and checks what a desktop installs: the launcher,
# the AppStream metadata, the file types, the icon, the manuals and the shell completion; with
# --deb also makes the Debian package and shows its files and dependencies.
# Usage: scripts/check-install.sh BUILD_DIR [--deb]
set -euo pipefail
build="$(cd "$1" && pwd)"
stage="$build/install-check"
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
id=org.quendle.Tolvane
share="$stage/share"

for program in tolvane tolvane-cli; do
    test -x "$stage/bin/$program" || { echo "missing bin/$program"; exit 1; }
done
"$stage/bin/tolvane-cli" --version
# The installed program finds its FFmpeg module wherever the tree was installed to.
sample="$stage/check.vob"
ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=1 -c:v mpeg2video -f vob "$sample"
"$stage/bin/tolvane-cli" mkv "$sample" -o "$stage/check.mkv" >/dev/null
test -s "$stage/check.mkv" || { echo "mkv wrote nothing from the install tree"; exit 1; }
rm -f "$sample" "$stage/check.mkv"

desktop-file-validate "$share/applications/$id.desktop"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml"

# The file types compile, and the launcher takes every one of them.
update-mime-database "$share/mime" >/dev/null 2>&1
grep -q 'video/x-hddvd-evo:\*\.evo' "$share/mime/globs2"
grep -q 'audio/x-dvd-audio-aob:\*\.aob' "$share/mime/globs2"
grep -q 'application/x-hddvd-playlist:VPLST\*\.XPL' "$share/mime/globs2"
for type in video/x-hddvd-evo audio/x-dvd-audio-aob application/x-hddvd-playlist video/mpeg; do
    grep -q "^MimeType=.*$type;" "$share/applications/$id.desktop" || { echo "launcher lacks $type"; exit 1; }
done

test -f "$share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 32 48 64 128 256; do
    test -f "$share/icons/hicolor/${size}x${size}/apps/$id.png"
done
for page in tolvane tolvane-cli; do
    test -s "$share/man/man1/$page.1"
done
bash -n "$share/bash-completion/completions/tolvane-cli"
echo "Install tree checked: $stage"

if [ "${2:-}" = "--deb" ]; then
    (cd "$build" && cpack -G DEB >/dev/null)
    deb="$(ls "$build"/tolvane_*.deb | head -n 1)"
    dpkg-deb --info "$deb" | grep -E '^ (Package|Version|Depends|Section):'
    dpkg-deb --contents "$deb" | awk '{print $6}'
fi
