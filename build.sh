#!/usr/bin/env bash
# Installs what is missing (Debian 12), builds Pictor with CMake and Ninja, then either starts
# the program or runs the test suite.
#
#   ./build.sh run [FOLDER]   build and start Pictor, optionally on a folder
#   ./build.sh test           build and run every test through CTest
set -euo pipefail
cd "$(dirname "$0")"

mode=${1:-run}
[ $# -gt 0 ] && shift

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-multimedia-dev qt6-webengine-dev
    gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
    libjpeg62-turbo-dev libarchive-dev libpng-dev libtiff-dev libwebp-dev libicu-dev
    fonts-ipafont-gothic adwaita-icon-theme
    googletest libgtest-dev libbenchmark-dev xvfb xauth x11-utils
)
# Only the tests need these: other programs that read our archives back and make fixtures.
if [ "$mode" = test ]; then
    packages+=(libarchive-tools jlha-utils lhasa gcab)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"

case "$mode" in
run)
    exec build/bin/pictor "$@"
    ;;
test)
    cd build
    exec ctest --output-on-failure -j "$jobs"
    ;;
*)
    echo "usage: $0 run [FOLDER] | test" >&2
    exit 2
    ;;
esac
