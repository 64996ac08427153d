#!/usr/bin/env bash
# fetch_public_arms.sh DIR: unpacks into DIR two public arm descriptions with their meshes, taken
# from Debian's source package of the DART simulator:
#   DIR/herb_description/wam.urdf          the Barrett WAM, 7 joints, COLLADA meshes that the file
#                                          names as package://herb_description/meshes/...
#   DIR/kr5/KR5 sixx R650.urdf             the KUKA KR5 sixx R650, 6 joints, STL meshes by path
# Nothing is fetched when DIR already holds them.
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
[ -f "$dir/.unpacked" ] && exit 0
. "$(dirname "$0")/debian_sources.sh"
debian_source_apt "$dir/apt"
rm -rf "$dir/download" "$dir/herb_description" "$dir/kr5"
mkdir -p "$dir/download" "$dir/herb_description" "$dir/kr5"
(cd "$dir/download" && apt-get "${apt_options[@]}" -qq source --download-only dart)
tarball=("$dir"/download/dart_*.orig.tar.*)
tar -xf "${tarball[0]}" -C "$dir/herb_description" --strip-components=4 \
  --wildcards 'dart-*/data/urdf/wam/*'
tar -xf "${tarball[0]}" -C "$dir/kr5" --strip-components=4 --wildcards 'dart-*/data/urdf/KR5/*'
rm -rf "$dir/download" "$dir/apt"
touch "$dir/.unpacked"
