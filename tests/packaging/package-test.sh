#!/usr/bin/env bash
# Builds the Debian package from this build tree, installs it into a throwaway
# root with dpkg, starts the installed program the way its desktop entry does,
# then removes the package and checks that nothing of it is left behind.
#
#   package-test.sh BUILD_DIR
set -euo pipefail
build=$(readlink -f "$1")
work=$(mktemp -d /tmp/korva-package-test-XXXXXX)
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }

echo "== building the package"
(cd "$work" && cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" > "$work/cpack.log" 2>&1) \
    || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/out/korva-manager_*_amd64.deb)

echo "== control fields"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in xdg-utils libx11-6 libfreetype6 libstdc++6; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
[[ "$(dpkg-deb -f "$deb" Recommends)" == *zenity* ]] || fail "zenity is not recommended"

echo "== installing into a throwaway root"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg_root() { dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless --log=/dev/null "$@"; }
dpkg_root -i "$deb" > "$work/install.log" 2>&1 || { cat "$work/install.log"; fail "installing failed"; }

for f in usr/bin/korva-manager usr/bin/korva usr/bin/korva-sim \
         usr/lib/korva-manager/korva-manager usr/lib/korva-manager/libkorva_core.so \
         usr/lib/korva-manager/Resource/korva_image.png usr/lib/korva-manager/Resource/folder_button.png \
         usr/lib/korva-manager/Resource/smf_file_icon.png usr/lib/korva-manager/Resource/drop_area_icon.png \
         "usr/lib/korva-manager/Manual/English/KORVA Manager User's Manual_EN.pdf" \
         usr/lib/udev/rules.d/70-korva.rules usr/share/applications/korva-manager.desktop \
         usr/share/icons/hicolor/48x48/apps/korva-manager.png usr/share/icons/hicolor/256x256/apps/korva-manager.png \
         usr/share/doc/korva-manager/copyright \
         usr/share/man/man1/korva.1.gz usr/share/man/man1/korva-sim.1.gz; do
    [ -e "$root/$f" ] || fail "not installed: /$f"
done
desktop-file-validate "$root/usr/share/applications/korva-manager.desktop" || fail "the desktop entry is not valid"

echo "== the installed tools run"
"$root/usr/bin/korva" --version | grep -q "1.0.1" || fail "korva --version"
"$root/usr/bin/korva-sim" --version | grep -q "1.0.1" || fail "korva-sim --version"

echo "== the manual pages"
zcat "$root/usr/share/man/man1/korva.1.gz" | grep '^\.TH KORVA "1"' > /dev/null || fail "korva.1 is not a manual page"
zcat "$root/usr/share/man/man1/korva.1.gz" | grep '^\.SS "korva pull ' > /dev/null || fail "korva.1 lacks the commands"
zcat "$root/usr/share/man/man1/korva-sim.1.gz" | grep -F -- '\-\-old\-firmware' > /dev/null || fail "korva-sim.1 lacks the options"

echo "== starting the program as the desktop entry does"
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/korva-manager.desktop")
home="$work/home"
mkdir -p "$home"
HOME="$home" PATH="$root/usr/bin:$PATH" $exec_line 2> "$work/program.err" &
program_pid=$!
# The tree is read whole before it is searched: grep -q would end the pipe
# early, and under pipefail xwininfo's broken pipe would fail the search
# (the tree is long under a window manager).
windows() { xwininfo -root -tree 2> /dev/null || true; }
for _ in $(seq 1 100); do
    if windows | grep '"KORVA Manager"' > /dev/null; then
        break
    fi
    kill -0 "$program_pid" 2> /dev/null || { cat "$work/program.err"; fail "the program ended at start"; }
    sleep 0.1
done
windows | grep '"KORVA Manager": ("KORVA Manager"' > /dev/null || fail "no KORVA Manager window"
[ "$(readlink -f "/proc/$program_pid/exe")" = "$(readlink -f "$root/usr/lib/korva-manager/korva-manager")" ] \
    || fail "the running program is not the installed one"
kill "$program_pid"
wait "$program_pid" 2> /dev/null || true
program_pid=""

echo "== removing"
dpkg_root --purge korva-manager > "$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "removing failed"; }
left=$(cd "$root" && find . -path ./var/lib/dpkg -prune -o \( -type f -o -type l \) -print)
[ -z "$left" ] || fail "left behind: $left"
left_dirs=$(cd "$root" && find usr -mindepth 1 -type d 2> /dev/null | grep -E 'korva' || true)
[ -z "$left_dirs" ] || fail "folders left behind: $left_dirs"
echo "== package test passed"
