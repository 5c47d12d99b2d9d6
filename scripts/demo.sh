#!/usr/bin/env bash
# Installs what is needed, builds, prepares demo/ (copies of corvald and
# corvald-batch and a sample server.dat), prints what corvald-batch lists there,
# runs a Jet round trip (list, dump, convert, list) in demo-jet/, and starts the
# window program in demo/. Without a display it runs the
# program under a private Xvfb and uses it as a person would: it dumps every map,
# starts the program again and converts the map files back, saves screenshots
# of the main window and of the closing message, and prints what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build

rm -rf demo
mkdir demo
cp build/corvald build/batch/corvald-batch demo/
build/tools/make_server_dat demo/server.dat

echo "demo/corvald-batch list:"
demo/corvald-batch -q list

# The same round trip headless on a Jet 4 server.dat, as existing installations keep it.
rm -rf demo-jet
mkdir demo-jet
cp build/batch/corvald-batch demo-jet/
build/tools/make_server_dat --jet demo-jet/server.dat
echo "Jet: $(demo-jet/corvald-batch -q list | head -n 1)"
demo-jet/corvald-batch -q dump
echo "Jet: dump wrote $(ls demo-jet/Maps | wc -l) map files"
echo "Jet: $(demo-jet/corvald-batch -q convert)"
echo "Jet: after the convert, $(demo-jet/corvald-batch -q list | head -n 1)"

if [ -n "${DISPLAY:-}" ]; then
  exec demo/corvald
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Starts corvald, waits for its main window and clicks the button at this point of it.
start_and_click() {
  demo/corvald &
  program=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvald Converter$' | head -n 1)
  xdotool mousemove --window "$window" "$1" "$2" click 1
}

# Ends the program through its main window and prints its exit code.
close_and_report() {
  build/tools/close_window "$window"
  wait $program && status=0 || status=$?
  echo "corvald ended with exit code $status."
}

start_and_click 136 64  # "Dump maps into seperate files"
until [ -z "$(xdotool search --onlyvisible --name '^Loading Server$' 2>/dev/null)" ] &&
  [ "$(ls demo/Maps | wc -l)" -gt 0 ]; do sleep 0.2; done
xwd -root -silent | convert xwd:- -crop 300x160+362+304 demo/screenshot.png
echo "Dump: $(ls demo/Maps | wc -l) map files written to demo/Maps; main window: demo/screenshot.png"
close_and_report

start_and_click 136 88  # "Convert map files to database"
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^Corvald$' | head -n 1)
xwd -root -silent | convert xwd:- -crop 300x160+362+304 demo/converted.png
echo "Convert: the closing message is on screen: demo/converted.png"
build/tools/close_window "$box"
close_and_report
