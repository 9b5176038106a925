#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into an empty root and checks what a
# user of the package gets: the control data, the files, a valid desktop entry, the icons, the
# man pages, the bash completion and programs that run.
#   package_test.sh BUILD_DIR VERSION
set -u
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
deb="$work/out/quillner_${version}_amd64.deb"
if [ ! -f "$deb" ]; then
  ls -l "$work/out"
  echo "FAIL: no $deb"
  exit 1
fi

info=$(dpkg-deb --info "$deb")
echo "$info"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = quillner ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
for needed in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6xml6 libssl3 qt6-qpa-plugins; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
expected=(
  usr/bin/Quillner
  usr/bin/quillner-cli
  usr/share/applications/quillner.desktop
  usr/share/icons/hicolor/scalable/apps/quillner.svg
  usr/share/man/man1/Quillner.1.gz
  usr/share/man/man1/quillner-cli.1.gz
  usr/share/bash-completion/completions/quillner-cli
  usr/share/doc/quillner/formats.md
  usr/share/doc/quillner/copyright
  usr/share/doc/quillner/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/quillner.png")
done
for file in "${expected[@]}"; do
  [ -s "$root/$file" ] || fail "missing $file"
done
for program in Quillner quillner-cli; do
  [ -x "$root/usr/bin/$program" ] || fail "$program is not executable"
done
# Nothing is installed outside /usr.
outside=$(cd "$root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "files outside /usr: $outside"

desktop-file-validate "$root/usr/share/applications/quillner.desktop" || fail "desktop entry"
grep -qx 'Exec=Quillner' "$root/usr/share/applications/quillner.desktop" || fail "Exec"
grep -qx 'Icon=quillner' "$root/usr/share/applications/quillner.desktop" || fail "Icon"

# Each PNG is square at its folder's size; the SVG is one <svg> document.
for size in 16 48 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/quillner.png"
  dimensions=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dimensions" = "${size}x${size}" ] || fail "$png is $dimensions"
done
grep -q '<svg xmlns="http://www.w3.org/2000/svg"' \
  "$root/usr/share/icons/hicolor/scalable/apps/quillner.svg" || fail "SVG icon"

# The unpacked programs run against the system's Qt, without a display.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/quillner-cli" --version)
[ "$out" = "quillner-cli $version" ] || fail "quillner-cli --version: $out"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/Quillner" --version)
[ "$out" = "Quillner $version" ] || fail "Quillner --version: $out"

for page in quillner-cli Quillner; do
  text=$(MANWIDTH=80 man -P cat -l "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null)
  [[ $text == *NAME* && $text == *"$page"* && $text == *--version* ]] || fail "man page of $page"
done
text=$(MANWIDTH=80 man -P cat -l "$root/usr/share/man/man1/quillner-cli.1.gz" 2>/dev/null)
[[ $text == *"--home DIR"* && $text == *"update PROJECT_DIR"* ]] || fail "quillner-cli page lacks its commands"

completion=$(bash -c "source /usr/share/bash-completion/bash_completion 2>/dev/null; \
  source '$root/usr/share/bash-completion/completions/quillner-cli'; complete -p quillner-cli")
[[ $completion == *"_quillner_cli"*"quillner-cli" ]] || fail "bash completion: $completion"

if [ $failures -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "package: all passed ($deb)"
