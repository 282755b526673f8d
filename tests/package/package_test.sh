#!/usr/bin/env bash
# The Debian package that CPack makes: its files are what the install puts in place, its
# dependencies come from the program (dpkg-shlibdeps), and lintian reports no error.
# Usage: package_test.sh BUILD-FOLDER
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single package"
deb=${debs[0]}
echo "package: $(basename "$deb")"

# Its files, owned by root, are exactly those of an install under /usr.
DESTDIR=$work/root cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/root" && find . -type f -printf '/%P\n' | LC_ALL=C sort) >"$work/installed"
dpkg-deb --fsys-tarfile "$deb" | tar -t --verbose --numeric-owner >"$work/listing"
awk '$1 ~ /^-/ { sub(/^\./, "", $6); print $6 }' "$work/listing" | LC_ALL=C sort >"$work/packaged"
diff -u "$work/installed" "$work/packaged" || fail "the package's files differ from the install's"
if awk '$2 != "0/0"' "$work/listing" | grep .; then fail "files not owned by root"; fi

# The control fields: name, version, and the libraries the program links, from shlibdeps.
# libhivex only checks the hive engine in the tests: the program does not link it.
[ "$(dpkg-deb -f "$deb" Package)" = vantorio ] || fail "the package is not named vantorio"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 fonts-ipafont-gothic; do
  grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib"
done
if grep -qE "(^|, )libhivex" <<<"$depends"; then fail "Depends names libhivex, which the program must not link"; fi

# lintian: no error. Its whole report goes to the log.
status=0
lintian --fail-on error --display-level '>=warning' "$deb" >"$work/lintian" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian" || true
if grep -q '^E:' "$work/lintian" || [ "$status" -ne 0 ]; then fail "lintian reports errors (status $status)"; fi
echo "package: lintian reports no error"
