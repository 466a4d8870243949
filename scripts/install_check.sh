#!/usr/bin/env bash
# install_check.sh BUILD_DIR: installs the project built in BUILD_DIR into a temporary prefix and
# builds and runs a consumer of the installed package against it: the README's own-machine example
# (taken from driver/tests/own_machine_test.cpp, so the two cannot drift apart).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/consumer"
cat > "$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 20)
find_package(vell_qasm REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE vell_qasm::driver)
CMAKE
{
  sed -n '/^#include "vell/p' "$root/driver/tests/own_machine_test.cpp"
  echo '#include <iostream>'
  sed -n '/---- README example begins/,/---- README example ends/p' "$root/driver/tests/own_machine_test.cpp"
  cat <<'CPP'
int main() {
  std::cout << compile_for_my_machine("OPENQASM 3.0;\ninput float[64] theta;\noutput bit b;\nqubit[2] q;\n"
                                      "rx(theta * 2) q[0];\nx q[1];\nb = measure q[1];\n");
}
CPP
} > "$work/consumer/main.cpp"
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer/build" -j4 >/dev/null
"$work/consumer/build/consumer" > "$work/listing.txt"
grep -q 'measure "readout"' "$work/listing.txt" || { echo "install check: unexpected listing"; cat "$work/listing.txt"; exit 1; }
echo "install check: a consumer of the installed package compiled and ran"
