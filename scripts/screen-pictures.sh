#!/usr/bin/env bash
# Regenerates the reference pictures of the simulated Mac's screen on the built-in desk:
# docs/pictures/screen-rest.png (at rest) and docs/pictures/screen-panels.png (the mapped
# ⌘ held after one ⇥: the switcher's panels on every display). Runs the host, the program
# and the screen under a virtual X server and types with xdotool, as a person would.
#   scripts/screen-pictures.sh [BUILD_DIR]   (default build/release, built when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
if [ "${SCREEN_PICTURES_INSIDE:-}" != "1" ]; then
  scripts/setup.sh
  if [ ! -x "$build/src/simscreen" ] || [ ! -x "$build/src/trelliq" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELLIQ_TESTS=OFF -DTRELLIQ_BENCH=OFF >/dev/null
    cmake --build "$build" --target trelliq simscreen simmac
  fi
  SCREEN_PICTURES_INSIDE=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$build"
fi

home="$(mktemp -d /tmp/trelliq-pictures-XXXXXX)"
export TRELLIQ_HOME="$home" ASAN_OPTIONS=detect_leaks=0
pids=()
cleanup() {
  xdotool keyup ctrl 2>/dev/null || true
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -TERM "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
shot() {
  QT_QPA_PLATFORM=offscreen "$build/src/simscreen" --size 1400x800 --after 1 --shot "$1"
}
QT_QPA_PLATFORM=offscreen "$build/src/simmac" 2>/dev/null & pids+=($!)
QT_QPA_PLATFORM=offscreen "$build/src/trelliq" 2>/dev/null & pids+=($!)
QT_QPA_PLATFORM=xcb "$build/src/simscreen" --wait 20 --size 1400x800 2>/dev/null & pids+=($!)
window="$(xdotool search --sync --name "Simulated Mac" | head -1)"
xdotool windowfocus --sync "$window"
sleep 4  # the program takes its event tap
mkdir -p docs/pictures
shot docs/pictures/screen-rest.png
xdotool keydown ctrl
sleep 0.2
xdotool key Tab
sleep 6  # past the show delay, with room for a loaded machine
shot docs/pictures/screen-panels.png
xdotool keyup ctrl
echo "wrote docs/pictures/screen-rest.png and docs/pictures/screen-panels.png"
