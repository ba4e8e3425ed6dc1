#!/usr/bin/env bash
# The Debian package from end to end, without root and writing only below a temporary folder:
# cpack makes it, dpkg-deb unpacks it into a scratch root, its postinst registers the control in
# a machine store inside that root, the installed viewer creates the control with no user
# registration, the prerm unregisters it and the postrm purges the store.
#
#   package_test.sh CPACK BUILD_DIR
#
# The maintainer scripts name the installed paths (/usr/bin/kwz-regsvr, /usr/lib/.../
# libkwz_screenreceiver.so), and kwz-regsvr records the path it loaded the module from. So the
# test runs the package's own scripts with /usr/ rewritten to the scratch root's usr/: the
# registered path is then one the scratch viewer can load, and the scripts' logic is the
# package's. That the unrewritten scripts name the module where the package puts it is checked
# first. The machine store follows $ProgramData, which the test points into the scratch root.
set -euo pipefail

cpack="$1"
build="$2"
work="$(mktemp -d /tmp/kwz-package-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "package test: $*" >&2
  exit 1
}

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  fail "cpack failed"
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one package in $work/out"
deb="${debs[0]}"

[ "$(dpkg-deb -f "$deb" Package)" = kwz-screen-receiver ] || fail "wrong package name"
depends="$(dpkg-deb -f "$deb" Depends)"
# Computed from the binaries: the C library and the codec libraries at least.
for library in libc6 libavcodec libopenh264 libvpx; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
for program in kwz-present kwz-regsvr kwz-relay kwz-viewer; do
  [ -x "$root/usr/bin/$program" ] || fail "$program is not installed"
  [ -s "$root/usr/share/man/man1/$program.1.gz" ] || fail "$program has no manual page"
done
[ -s "$root/usr/share/icons/hicolor/scalable/apps/kwz-viewer.svg" ] || fail "no icon"
desktop="$root/usr/share/applications/kwz-viewer.desktop"
[ -s "$desktop" ] || fail "no desktop entry"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
fi

module="$(grep -o '/usr/[^ ]*/libkwz_screenreceiver\.so' "$work/control/postinst" | head -n 1)"
[ -n "$module" ] && [ -f "$root$module" ] || fail "postinst registers '$module', not in the package"
for script in postinst prerm postrm; do
  sed "s|/usr/|$root/usr/|g" "$work/control/$script" >"$work/$script"
done

# A registry of the scratch root's own: the machine store in it, the user's empty.
export ProgramData="$root/var/lib" XDG_DATA_HOME="$work/user" HOME="$work/home"
mkdir -p "$ProgramData" "$XDG_DATA_HOME" "$HOME"
unset DISPLAY
# In a sanitizer build: a program that unloads the module also unloads the codec libraries it
# pulled in, and what they allocated when loaded would be reported as lost (the module tests
# check its unloading in process).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
store="$ProgramData/kwz/machine.reg"
viewer=("$root/usr/bin/kwz-viewer" --headless --seconds 0 --source-address 127.0.0.1
        --source-port 0)

# Unregistered, the viewer fails: its success below is the machine store's doing.
if "${viewer[@]}" 2>"$work/viewer.err"; then fail "the viewer ran with nothing registered"; fi
grep -q "not registered" "$work/viewer.err" || fail "unexpected: $(cat "$work/viewer.err")"

sh "$work/postinst" configure || fail "postinst failed"
"${viewer[@]}" 2>"$work/viewer.err" || fail "the installed viewer failed: $(cat "$work/viewer.err")"
clsid="$(grep -A1 -F '[Software\Classes\KWZ_ScreenReceiver.KWZ_ScreenReceiver\CLSID]' "$store" |
  sed -n 's/^@="\(.*\)"$/\1/p')"
[ -n "$clsid" ] || fail "no CLSID under the ProgID in the machine store"

sh "$work/prerm" remove || fail "prerm failed"
if grep -e "$clsid" -e KWZ_ScreenReceiver "$store"; then fail "the control is still registered"; fi

# A module that no longer loads must not keep the package from being removed.
rm "$root$module"
sh "$work/prerm" remove 2>/dev/null || fail "prerm failed without the module"

sh "$work/postrm" purge || fail "postrm purge failed"
[ ! -e "$ProgramData/kwz" ] || fail "purge left $ProgramData/kwz"
echo "package test: $(basename "$deb") installs, registers, runs and unregisters"
