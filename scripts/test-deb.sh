#!/usr/bin/env bash
# The Debian package as a user meets it: built by make-deb.sh from BUILD_DIR (the test
# build: nothing is compiled again), checked by lintian (errors fail, warnings are listed),
# installed with apt, run from PATH (both --version texts, a scan of the sample image and an
# inspect of its file), then removed, leaving none of its files behind. Needs root.
#
# Usage: scripts/test-deb.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
export DEBIAN_FRONTEND=noninteractive
apt_options=(-y -q -o DPkg::Lock::Timeout=600)

fail() { echo "test-deb.sh: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "installing the package needs root"
if dpkg-query -W -f='${Status}' quillon 2>/dev/null | grep -q "ok installed"; then
  fail "a quillon package is installed already; this test would replace and then remove it: remove it first (apt-get remove quillon)"
fi

deb=$(scripts/make-deb.sh "$build" | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
cmake --build "$build" --target sample-image >/dev/null
image=$(realpath "$build/samples/sample-disk.img")

echo "== lintian $(basename "$deb") =="
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -q "^E: " <<<"$lintian_out"; then fail "lintian reports errors (above)"; fi
echo "lintian: no error, $(grep -c "^W: " <<<"$lintian_out" || true) warning(s)"

work=$(mktemp -d)
installed=0
cleanup() {
  rm -rf "$work"
  if [ "$installed" = 1 ]; then apt-get remove "${apt_options[@]}" quillon >/dev/null || true; fi
}
trap cleanup EXIT

echo "== apt-get install $(basename "$deb") =="
apt-get install "${apt_options[@]}" --no-install-recommends "$(realpath "$deb")"
installed=1
dpkg-query -L quillon | sort > "$work/files"

[ "$(command -v quillon-cli)" = /usr/bin/quillon-cli ] || fail "quillon-cli is not /usr/bin/quillon-cli on PATH"
[ "$(quillon-cli --version)" = "quillon-cli $version" ] || fail "quillon-cli --version: $(quillon-cli --version)"
# The window's --version must answer without a display.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb quillon --version 2>&1) ||
  fail "quillon --version failed: $out"
[ "$out" = "quillon $version" ] || fail "quillon --version: $out"

(cd "$work" && quillon-cli scan --quiet "$image" sample.frag) || fail "the scan of $image failed"
inspect=$(cd "$work" && quillon-cli inspect --json sample.frag) || fail "inspect of the scanned file failed"
grep -q '"state":"complete"' <<<"$inspect" || fail "the scanned file is not complete: $inspect"

# What the desktop and man need, where they look for it.
grep -qx "Exec=pkexec /usr/bin/quillon" /usr/share/applications/quillon.desktop ||
  fail "the desktop entry does not start /usr/bin/quillon through pkexec"
policy=$(grep -l "org.freedesktop.policykit.exec.path\">/usr/bin/quillon<" /usr/share/polkit-1/actions/*.policy) ||
  fail "no polkit action names /usr/bin/quillon"
grep -q "org.freedesktop.policykit.exec.allow_gui\">true<" "$policy" || fail "$policy lacks allow_gui"
if command -v xmllint >/dev/null; then xmllint --noout "$policy"; fi
desktop-file-validate /usr/share/applications/quillon.desktop || fail "the desktop entry is not valid"
zcat /usr/share/man/man1/quillon-cli.1.gz | grep -q '^\.SH EXIT STATUS' || fail "the man page lacks its exit statuses"
for file in /usr/share/doc/quillon/copyright /usr/share/doc/quillon/changelog.gz /usr/share/doc/quillon/README.md \
            /usr/share/icons/hicolor/48x48/apps/quillon.png; do
  [ -s "$file" ] || fail "$file is missing"
done

echo "== apt-get remove quillon =="
apt-get remove "${apt_options[@]}" quillon
installed=0
if dpkg-query -W -f='${Status}' quillon 2>/dev/null | grep -q "installed"; then
  fail "quillon is still installed: $(dpkg-query -W -f='${Status}' quillon)"
fi
left=$(while read -r path; do [ -d "$path" ] || [ ! -e "$path" ] || echo "$path"; done < "$work/files")
[ -z "$left" ] || fail "files left behind after the removal: $left"
echo "Debian package: built, lintian clean of errors, installed, ran, removed"
