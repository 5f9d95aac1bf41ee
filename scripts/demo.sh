#!/usr/bin/env bash
# The main job: builds the setup program and shows it at work in a private Wine prefix:
# a silent install of the stand-in game with the generated fixture ROM, the installed
# tree, the uninstall entry and the shortcuts.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only what the demo runs: the test flavour (which brings the fixture ROM) and the viewer.
export TORRENTINE_TARGETS="TorrentinePCSetup-test show_install"
. scripts/prepare.sh "$@"
build="$(cd "$build" && pwd)"

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/home"
export WINEPREFIX="$demo/prefix" TORRENTINE_WINEPREFIX="$demo/prefix"
export TORRENTINE_WINEHOME="$demo/home" WINEDEBUG=-all
wine_run() { "$build/wine-run.sh" "$@"; }

echo
echo "== A fresh Wine prefix for the demo: $WINEPREFIX"
wine_run wineboot -i >/dev/null 2>&1 || true

cat <<'NOTE'

== Note: the real release, TorrentinePCSetup.exe, accepts only the user's own ROM of the
   Torrentine prototype dated Jun 15, 1999. This demo runs the test flavour,
   TorrentinePCSetup-test.exe, which differs in one thing only: it accepts the fixture ROM
   that the build generates.
NOTE

cp "$build/TorrentinePCSetup-test.exe" "$demo/TorrentinePCSetup-test.exe"
rom="Z:$(echo "$build/fixtures/fixture.v64" | tr / '\\')"
setup="Z:$(echo "$demo/TorrentinePCSetup-test.exe" | tr / '\\')"
folder='C:\Games\Torrentine PC'

echo
echo "== The setup window, filled with the fixture ROM and the demo folder"
shot="Z:$(echo "$demo/setup-window.bmp" | tr / '\\')"
wine_run "$setup" /snapshot "$shot" /rom "$rom" /dir "$folder"
/usr/bin/convert "$demo/setup-window.bmp" "$demo/setup-window.png"
echo "Saved $demo/setup-window.png ($(/usr/bin/identify -format '%wx%h' "$demo/setup-window.png") pixels)"

echo
echo "== Silent install: TorrentinePCSetup-test.exe /S /rom \"$rom\" /dir \"$folder\""
set +e
wine_run "$setup" /S /rom "$rom" /dir "$folder"
code=$?
set -e
echo "(exit code $code)"

echo
echo "== The installed tree"
installed="$WINEPREFIX/drive_c/Games/Torrentine PC"
(cd "$installed" && find . -type f -printf '%10s  %P\n' | sort -k2)

echo
echo "== What the shell knows of it"
wine_run "$build/show_install.exe"

echo
echo "== Silent uninstall: \"C:\\Games\\Torrentine PC\\Uninstall.exe\" /uninstall /S"
wine_run 'C:\Games\Torrentine PC\Uninstall.exe' /uninstall /S
# Stage 2 runs from a temporary copy, which deletes itself about two seconds after it ends.
temp="$WINEPREFIX/drive_c/users/$(id -un)/Temp"
for _ in $(seq 1 300); do
  ls "$temp" 2>/dev/null | grep -q Uninstall_TorrentinePC || break
  sleep 0.1
done
echo "Left in the install folder (saves and settings are kept without /delsaves):"
(cd "$installed" 2>/dev/null && find . -printf '  %P\n' | sed '/^  $/d' | sort) || echo "  (the folder is gone)"
echo "Temporary uninstaller copies left: $(ls "$temp" 2>/dev/null | grep -c Uninstall_TorrentinePC || true)"
wine_run "$build/show_install.exe"

WINEPREFIX="$demo/prefix" wineserver -k >/dev/null 2>&1 || true
