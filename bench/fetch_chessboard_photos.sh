#!/usr/bin/env bash
# Fetches real chessboard photos for bench/object_editor_bench: OpenCV's
# calibration sample photos (left01.jpg .. left14.jpg, right01.jpg ..
# right14.jpg; 9 x 6 inner corners, 640 x 480) from Debian's opencv-doc
# package, into the build folder. Nothing of it belongs in the tree.
#
#   bench/fetch_chessboard_photos.sh [build-folder]     (default build/test)
#
# then
#
#   BUILD/bench/object_editor_bench --photos BUILD/bench_data/chessboard_photos
#
# The package is fetched with apt-get download and unpacked with dpkg-deb -x
# in BUILD/bench_data; only the photos are kept, with a note of the package
# version they came from (SOURCE.txt).
set -euo pipefail

build=${1:-build/test}
package=opencv-doc
data="$build/bench_data"
photos="$data/chessboard_photos"
mkdir -p "$data"
data=$(cd "$data" && pwd)
photos="$data/chessboard_photos"

work=$(mktemp -d "$data/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get download "$package" >download.log 2>&1; then
  cat download.log >&2
  echo "apt-get download $package failed; an 'apt-get update' first may help" >&2
  exit 1
fi
deb=$(ls "$package"_*.deb)
dpkg-deb -x "$deb" unpacked
version=$(dpkg-deb -f "$deb" Version)

examples=unpacked/usr/share/doc/$package/examples/data
shopt -s nullglob
found=("$examples"/left[0-9][0-9].jpg "$examples"/right[0-9][0-9].jpg)
if [ ${#found[@]} -eq 0 ]; then
  echo "$package $version holds no left??.jpg / right??.jpg under $examples" >&2
  exit 1
fi
rm -rf "$photos"
mkdir -p "$photos"
cp "${found[@]}" "$photos/"
printf '%s %s (%s), %s\n' "$package" "$version" "$deb" "/usr/share/doc/$package/examples/data" >"$photos/SOURCE.txt"
echo "${#found[@]} photos from $package $version in $photos"
