#!/usr/bin/env bash
# The main job: set up, build, and run the example tool on every program in examples/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build" -DVELL_BUILD_TESTS=OFF
for f in "$root"/examples/*.qasm; do
  echo "== $(basename "$f")"
  "$root/build/tools/vell-qasmc/vell-qasmc" parse "$f"
done
