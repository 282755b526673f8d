#!/usr/bin/env bash
# The Windows zip that CPack makes: one folder with the program, its console twin, the README and
# the licence.
# Usage: zip_test.sh BUILD-FOLDER SOURCE-FOLDER PROJECT-VERSION
set -euo pipefail
build=$1 source=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
top=vantorio-$version-win64
zip=$work/out/$top.zip
[ -f "$zip" ] || fail "no $top.zip"

(cd "$work" && cmake -E tar tf "$zip") | grep -v '/$' | LC_ALL=C sort >"$work/listing"
printf '%s\n' "$top/LICENSE.txt" "$top/README.md" "$top/vantorio.com" "$top/vantorio.exe" | diff -u - "$work/listing" ||
  fail "the zip holds other files"

mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
cmp "$source/README.md" "$work/unpacked/$top/README.md" || fail "the README differs"
cmp "$source/LICENSE" "$work/unpacked/$top/LICENSE.txt" || fail "the licence differs"
for program in vantorio.exe vantorio.com; do
  [ "$(head -c 2 "$work/unpacked/$top/$program")" = MZ ] || fail "$program is not a Windows program"
done
echo "zip: $top.zip holds the program, the README and the licence"
