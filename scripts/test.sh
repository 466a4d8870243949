#!/usr/bin/env bash
# Set up, then build and run every test twice: in a plain build and under ASan+UBSan.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
# The build directory is shared with the main command, which builds without the tests: ask for
# them, and fail where no test was found rather than pass on nothing.
bash "$root/scripts/build.sh" "$root/build" -DVELL_BUILD_TESTS=ON -DVELL_BUILD_BENCH=ON
(cd "$root/build" && ctest --output-on-failure --no-tests=error -j"$(nproc)")
# find_package(vell_qasm) from an install, in a consumer of the package.
bash "$root/scripts/install_check.sh" "$root/build"
# The libraries and their tests once more with clang: the headers must stay standard C++ that
# both compilers build without warnings.
bash "$root/scripts/build.sh" "$root/build-clang" -DCMAKE_CXX_COMPILER=clang++ -DVELL_BUILD_TESTS=ON -DVELL_BUILD_BENCH=OFF
(cd "$root/build-clang" && ctest --output-on-failure --no-tests=error -j"$(nproc)")
bash "$root/scripts/build.sh" "$root/build-asan" -DVELL_SANITIZE=ON -DVELL_BUILD_TESTS=ON -DVELL_BUILD_BENCH=OFF
(cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --no-tests=error -j"$(nproc)")
# Once more the openqasm3 tests with locals on the heap (the default of newer compilers): the
# stack guard must measure the frames themselves.
ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$root/build-asan/openqasm3_tests"
