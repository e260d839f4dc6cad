#!/usr/bin/env bash
# Takes docs/message-box.png: the real final box of the win64 build, under
# Wine on a throw-away Xvfb display and prefix. Wine's virtual desktop draws
# the box's caption, which a bare X server without a window manager would not.
#     docs/make_screenshot.sh [build/win64/uninst.exe]
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(realpath "${1:-build/win64/uninst.exe}")
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb"; rm -rf "$work"; }
trap cleanup EXIT
while [ ! -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

wineboot -i >/dev/null 2>&1
wine explorer /desktop=shot,440x160 "$exe" >/dev/null 2>&1 &
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^Zelvorant Uninstall$' | head -1)
desktop=$(xdotool search --name '^shot' | head -1)
xdotool windowfocus --sync "$box"
sleep 1
import -window "$desktop" docs/message-box.png
xdotool key Return
wait %2 || true
