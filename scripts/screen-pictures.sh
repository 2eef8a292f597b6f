#!/usr/bin/env bash
# Regenerates the reference pictures of the simulated Mac's screen on the built-in desk by
# walking it as a person would: the screen's own test `Screen.APersonsFirstWalk…` runs the
# host, the program and the screen under a virtual X server, clicks and types with xdotool,
# checks each step, and keeps the screen's window at each point in docs/pictures:
#   screen-rest.png         at rest
#   screen-menu.png         the status item's menu open
#   screen-preferences.png  Preferences, "Window tiles" chosen with the pointer
#   screen-popup.png        Preferences' "Show tile names" pop-up open (its own test, the
#                           program on X)
#   screen-guide.png        the guide, opened from Preferences
#   screen-panels.png       the mapped ⌘ held after one ⇥: the switcher's panels on every display
#   screen-renaming.png     the first desktop's name field as "Wörk Ü" is typed into it, its
#                           insertion point after the Ü (grabbed while the blink shows it)
#   screen-renamed.png      the panels again, the first desktop renamed "Wörk Ü"
#   scripts/screen-pictures.sh [BUILD_DIR]   (default build/asan; configured and built as needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/asan}"
scripts/setup.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELLIQ_TESTS=ON -DTRELLIQ_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target tests_screen
mkdir -p docs/pictures
pictures="$(cd docs/pictures && pwd)"
TRELLIQ_SCREEN_SHOTS="$pictures" TRELLIQ_SCREEN_SIZE=2400x1340 TRELLIQ_BIN="$(cd "$build/src" && pwd)" \
  ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s "-screen 0 2560x1440x24" env QT_QPA_PLATFORM=xcb \
  "$build/tests/tests_screen" --gtest_filter='Screen.APersonsFirstWalk*:ScreenWithProgramOnX.APopUp*'
echo "wrote docs/pictures/screen-{rest,menu,preferences,popup,guide,panels,renaming,renamed}.png"
