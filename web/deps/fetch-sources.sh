#!/usr/bin/env bash
# fetch-sources.sh DIR: unpacks into DIR the Debian source packages of the libraries that the engine
# and the URDF loader use, at the versions of this machine's -dev packages, so that the browser's
# engine and loader are built from the same code as the desktop programs'. apt runs on a
# configuration of its own under DIR/apt (see tools/debian_sources.sh). A package already unpacked
# is not fetched again.
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
apt=$dir/apt

# The -dev packages the loader and the simulation build against (the XML libraries, the parser,
# the header-only Eigen and CLI11); their source packages and versions.
dev_packages=(libconsole-bridge-dev libtinyxml-dev libtinyxml2-dev liburdfdom-headers-dev
  liburdfdom-dev libeigen3-dev libcli11-dev)

wanted=()
for p in "${dev_packages[@]}"; do
  wanted+=("$(dpkg-query -W -f '${source:Package}=${source:Version}' "$p")")
done
missing=()
for w in "${wanted[@]}"; do
  name=${w%%=*}
  version=${w#*=}
  version=${version#*:}
  [ -d "$dir/$name-${version%-*}" ] || missing+=("$w")
done
# glibc's sine and cosine (the desktop programs' libm), of which only the folder of its
# double-precision functions is unpacked, with the Debian patches on that folder.
glibc=$(dpkg-query -W -f '${source:Version}' libc6)
math=$dir/glibc-math-${glibc#*:}
[ -f "$math/.patched" ] && glibc=
[ ${#missing[@]} -eq 0 ] && [ -z "$glibc" ] && exit 0

. "$(dirname "$0")/../../tools/debian_sources.sh"
debian_source_apt "$apt"
options=("${apt_options[@]}")
cd "$dir"
[ ${#missing[@]} -eq 0 ] || apt-get "${options[@]}" -qq source --only-source "${missing[@]}"

if [ -n "$glibc" ]; then
  rm -rf "$math"
  mkdir -p "$math/download"
  (cd "$math/download" && apt-get "${options[@]}" -qq source --download-only "glibc=$glibc")
  tar -xJf "$math"/download/glibc_*.orig.tar.xz -C "$math" --strip-components=1 \
    --wildcards 'glibc-*/sysdeps/ieee754/dbl-64/*'
  tar -xJf "$math"/download/glibc_*.debian.tar.xz -C "$math" debian/patches
  # Each patch of the series, cut down to its changes of that folder.
  while read -r patch _; do
    case "$patch" in '' | '#'*) continue ;; esac
    awk '/^diff /{keep = 0} /^diff .* a\/sysdeps\/ieee754\/dbl-64\//{keep = 1} keep' \
      "$math/debian/patches/$patch" >"$math/part.diff"
    [ -s "$math/part.diff" ] && patch -s -d "$math" -p1 <"$math/part.diff"
  done <"$math/debian/patches/series"
  rm -rf "$math/download" "$math/debian" "$math/part.diff"
  touch "$math/.patched"
fi
