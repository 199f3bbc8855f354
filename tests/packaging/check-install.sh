#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop expects of it.
#   check-install.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build="$1" prefix="$2"
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "FAILED: $*" >&2; exit 1; }
for f in lib/tarvok/tarvok lib/tarvok/AddKey.html share/applications/tarvok.desktop \
         share/icons/hicolor/scalable/apps/tarvok.svg share/icons/hicolor/256x256/apps/tarvok.png; do
  [ -s "$prefix/$f" ] || fail "$f missing"
done
[ -x "$prefix/lib/tarvok/tarvok" ] || fail "the program is not executable"
# The command is a link, so the program still finds AddKey.html beside its real self.
[ "$(readlink "$prefix/bin/tarvok")" = "../lib/tarvok/tarvok" ] || fail "bin/tarvok is not the link to lib/tarvok/tarvok"
desktop="$prefix/share/applications/tarvok.desktop"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop" || fail "launcher invalid"; fi
key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(key Name)" = "Tarvok" ] || fail "Name"
[ "$(key Categories)" = "Network;Chat;" ] || fail "Categories"
[ "$(key Exec)" = "tarvok" ] || fail "Exec"
# The window's X11 class is the executable's name; the launcher must name the same.
[ "$(key StartupWMClass)" = "tarvok" ] || fail "StartupWMClass"
[ -e "$prefix/share/icons/hicolor/256x256/apps/$(key Icon).png" ] || fail "Icon names no installed icon"
# Cyrillic letters start with the bytes D0 or D1 in UTF-8.
key Comment | LC_ALL=C grep -q $'[\xD0\xD1]' || fail "the Comment is not in Russian"
# A PNG's size sits in its header: width and height at bytes 16-23.
[ "$(od -An -tx1 -j16 -N8 "$prefix/share/icons/hicolor/256x256/apps/tarvok.png" | tr -d ' \n')" = "0000010000000100" ] ||
  fail "the PNG icon is not 256 x 256"
echo "install layout OK"
