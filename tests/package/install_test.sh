#!/usr/bin/env bash
# What `cmake --install` puts in place, judged by the ecosystem's own tools: exactly the
# expected files, a desktop entry that desktop-file-validate passes, a manual page that man
# renders without a warning, the icon at its real size, a program that runs from there.
# Usage: install_test.sh BUILD-FOLDER EXPECTED-FILES PROJECT-VERSION
set -euo pipefail
build=$1 expected=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

# Every file and only those; modes as a distribution wants them.
(cd "$prefix" && find . -type f -printf '%P\n' | LC_ALL=C sort) >"$work/files"
diff -u "$expected" "$work/files" || fail "the install put other files in place"
[ "$(stat -c %a "$prefix/bin/vantorio")" = 755 ] || fail "the program is not mode 0755"
for f in $(grep -v '^bin/' "$expected"); do
  [ "$(stat -c %a "$prefix/$f")" = 644 ] || fail "$f is not mode 0644"
done

# The desktop entry: valid, with no error and no warning (hints are advice).
desktop=$prefix/share/applications/vantorio.desktop
desktop-file-validate "$desktop" >"$work/validate" 2>&1 || { cat "$work/validate" >&2; fail "desktop-file-validate"; }
if grep -E 'error:|warning:' "$work/validate" >&2; then fail "desktop-file-validate complains"; fi
for line in 'Type=Application' 'Exec=vantorio %f' 'Icon=vantorio' 'Categories=System;Settings;' 'Terminal=false'; do
  grep -qxF "$line" "$desktop" || fail "the desktop entry lacks '$line'"
done
grep -q '^Name\[ja\]=' "$desktop" || fail "the desktop entry has no Japanese name"
grep -q '^Comment=' "$desktop" || fail "the desktop entry has no comment"

# The manual page renders without a warning, in an ASCII and in a UTF-8 locale, and says
# what the program's help says about the exit statuses.
page=$prefix/share/man/man1/vantorio.1.gz
gzip -t "$page" || fail "the manual page is not a sound gzip file"
for locale in C C.UTF-8; do
  LC_ALL=$locale MANWIDTH=80 man --warnings -l "$page" >"$work/page" 2>"$work/warnings" ||
    { cat "$work/warnings" >&2; fail "man failed in $locale"; }
  [ ! -s "$work/warnings" ] || { cat "$work/warnings" >&2; fail "man warns in $locale"; }
done
for section in SYNOPSIS 'WHICH HIVE' ENVIRONMENT FILES 'EXIT STATUS' EXAMPLES; do
  grep -q "^$section" "$work/page" || fail "the manual page has no $section section"
done
grep -q "Vantorio $version" "$work/page" || fail "the manual page does not name version $version"
grep -q 'vantorio /mnt/windows/Windows/System32/config/SOFTWARE' "$work/page" || fail "no example for a mounted disk"

# The icon is a 32 x 32 PNG, in the hicolor folder of that size.
icon=$prefix/share/icons/hicolor/32x32/apps/vantorio.png
[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "the icon is not a PNG"
[ "$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ' | sed 's/^ //;s/ $//')" = '0 0 0 32 0 0 0 32' ] ||
  fail "the icon is not 32 x 32"

# The copyright file names the licence; the changelog's release is the project's.
grep -qx 'License: Expat' "$prefix/share/doc/vantorio/copyright" || fail "the copyright file names no licence"
zcat "$prefix/share/doc/vantorio/changelog.gz" | head -n1 | grep -q "^vantorio ($version) " ||
  fail "the changelog's first entry is not version $version"

# The installed program runs from where it was put.
[ "$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/vantorio" --version | head -n1)" = "vantorio $version" ] ||
  fail "the installed program does not give its version"
echo "install: $(wc -l <"$work/files") files, all checked"
