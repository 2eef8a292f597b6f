#!/usr/bin/env bash
# Fails when the layering is broken: a logic folder includes a Qt header, or product code
# includes the port behind the façade. Run by ./test before it builds; give the tree's
# root as the argument to check another one.
set -uo pipefail
cd "${1:-$(dirname "$0")/..}"
status=0
fail() { echo "check-includes: $*" >&2; status=1; }

# Plain C++ folders (their own files; subfolders are listed on their own).
logic=(src/settings src/workspace src/switcher/model src/switcher/layout src/switcher src/guide/model src/app)
for dir in "${logic[@]}"; do
  while IFS= read -r hit; do fail "$hit: a logic folder includes Qt"; done < <(
    grep -HnE '^\s*#\s*include\s*[<"]Q[A-Za-z]*(/|>|")' "$dir"/*.h "$dir"/*.cpp 2>/dev/null)
done

# Product code calls the façade only, never the port behind it.
while IFS= read -r hit; do fail "$hit: product code includes the port behind the façade"; done < <(
  grep -rHnE '^\s*#\s*include\s*"platform/SystemPort\.h"' src --include='*.h' --include='*.cpp' |
    grep -vE '^src/platform/')
exit $status
