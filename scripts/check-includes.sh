#!/usr/bin/env bash
# Fails when the layering is broken: a logic folder includes a Qt header, product code
# includes the simulated world's, the host's or the screen's headers (or the port behind
# the façade), or a folder includes one on a floor above its own. Run by ./test before it
# builds; give the tree's root as the argument to check another one.
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
status=0
fail() { echo "check-includes: $*" >&2; status=1; }

# Plain C++ folders (their own files; subfolders are listed on their own).
logic=(src/settings src/ownwindows src/workspace src/switcher/model src/switcher/layout src/switcher src/ui/model
       src/guide/model src/app)
for dir in "${logic[@]}"; do
  while IFS= read -r hit; do fail "$hit: a logic folder includes Qt"; done < <(
    grep -HnE '^\s*#\s*include\s*[<"]Q[A-Za-z]*(/|>|")' "$dir"/*.h "$dir"/*.cpp 2>/dev/null)
done

# Product code calls the façade only, never the port behind it nor the world; the
# program's own folder (src/trelliq) is where it attaches to the world.
while IFS= read -r hit; do fail "$hit: product code includes the world or the port behind the façade"; done < <(
  grep -rHnE '^\s*#\s*include\s*"platform/(sim|host|screen)/|^\s*#\s*include\s*"platform/SystemPort\.h"' \
    src --include='*.h' --include='*.cpp' | grep -vE '^src/(platform|trelliq)/')

# Floors, lowest first: a folder may include its own floor and the ones below it. A
# folder not named here stands on its parent's floor; the façade and the world
# (src/platform) lie below them all and include none of them.
floors=(settings workspace ownwindows ownwindows/views switcher/model switcher/layout switcher switcher/views
        ui guide/model guide app app/views preferences selftest trelliq)
declare -A onFloor
for i in "${!floors[@]}"; do onFloor[${floors[$i]}]=$i; done
# Sets `level` to the floor of folder $1 (relative to src), -1 for the platform or none.
floorOf() {
  local dir=$1
  while [[ -z "${onFloor[$dir]+set}" && "$dir" == */* ]]; do dir=${dir%/*}; done
  level=${onFloor[$dir]:--1}
}
includes() {
  grep -HnoE '^\s*#\s*include\s*"[^"]+"' "$1"/*.h "$1"/*.cpp 2>/dev/null | sed -E 's/:\s*#\s*include\s*"/:/; s/"$//'
}
while IFS= read -r dir; do
  from=${dir#src/}
  if [[ "$from" == platform || "$from" == platform/* ]]; then
    while IFS=: read -r file line target; do
      floorOf "${target%/*}"
      ((level >= 0)) && [[ "$target" == */* ]] && fail "$file:$line: the platform includes $target, product code"
    done < <(includes "$dir")
    continue
  fi
  floorOf "$from"
  f=$level
  ((f < 0)) && { fail "$dir: a product folder on no floor (add it to the floors here and in docs/ARCHITECTURE.md)"; continue; }
  while IFS=: read -r file line target; do
    [[ "$target" == */* ]] || continue  # its own folder
    floorOf "${target%/*}"
    ((level > f)) && fail "$file:$line: $from includes $target, a floor above it"
  done < <(includes "$dir")
done < <(find src -mindepth 1 -type d | sort)
exit $status
