#!/usr/bin/env bash
# The main job: set up, build, and compile every program in examples/ for the demonstration
# machine with `vell-qasmc compile`, printing each TAVO listing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
bash "$root/scripts/build.sh" "$root/build" -DVELL_BUILD_TESTS=OFF -DVELL_BUILD_BENCH=OFF
# Options an example needs (its compile-time inputs, a larger machine); the others need none.
declare -A options=(
  [adder.qasm]="--qubits 10"
  [calibration.qasm]="--input shots=100 --input amplitude=0.25 --input echo=true"
)
for f in "$root"/examples/*.qasm; do
  name=$(basename "$f")
  echo "== $name ${options[$name]:-}"
  # shellcheck disable=SC2086
  "$root/build/tools/vell-qasmc/vell-qasmc" compile "$f" ${options[$name]:-}
done
