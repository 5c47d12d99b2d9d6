#!/usr/bin/env bash
# Installs what is needed, builds, prepares demo/ (a copy of corvald and a sample
# server.dat) and starts the program there. Without a display it runs the
# program under a private Xvfb, saves a screenshot to demo/screenshot.png and
# closes the program again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build

rm -rf demo
mkdir demo
cp build/corvald demo/
build/tools/make_server_dat demo/server.dat

if [ -n "${DISPLAY:-}" ]; then
  exec demo/corvald
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

demo/corvald &
program=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvald Converter$' | head -n 1)
sleep 1
xwd -root -silent | convert xwd:- demo/screenshot.png
build/tools/close_window "$window"
wait $program && status=0 || status=$?
echo "The main window opened; screenshot: demo/screenshot.png; corvald ended with exit code $status."
