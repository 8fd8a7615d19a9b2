#!/usr/bin/env bash
# Installs the Debian packages that building (and, with --with-test-tools, testing) needs,
# when they are missing.
set -euo pipefail

# CLI11 parses the command line and nlohmann-json writes its reports; libdvdread reads DVD
# discs and libudfread HD DVD images; FFmpeg's libraries write Matroska. ffmpeg encodes the
# streams of the sample disc; the tests also check against ffprobe.
packages=(g++ cmake make pkg-config libgtest-dev libgmock-dev qt6-base-dev libcli11-dev
    nlohmann-json3-dev libdvdread-dev libudfread-dev libavformat-dev libavcodec-dev libavutil-dev
    ffmpeg)
# The test command also checks the install tree and the Debian package with the desktop's own
# validators, reads exported chapters back through mkvmerge and mkvextract, muxes H.264 at 0xE0
# with GStreamer as other muxers do, authors DVD discs with dvdauthor and genisoimage and checks
# them against lsdvd and what libdvdnav plays, renders the manual pages with groff, and builds
# and runs the fuzz targets with clang's libFuzzer.
# bench/compare_peers.sh reads the peak memory of each run with GNU time, authors its title
# into a DVD image and muxes its demuxed streams with mkvmerge, the way without mkv.
if [ "${1:-}" = "--with-bench-tools" ]; then
    packages+=(time dvdauthor genisoimage mkvtoolnix)
fi
if [ "${1:-}" = "--with-test-tools" ]; then
    packages+=(desktop-file-utils appstream shared-mime-info dpkg-dev mkvtoolnix clang
        libclang-rt-14-dev gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
        dvdauthor genisoimage lsdvd libdvdnav-dev groff-base)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
