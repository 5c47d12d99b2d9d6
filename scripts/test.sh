#!/usr/bin/env bash
# Installs what is needed, then builds and runs the whole test suite twice: in a
# normal build, and with AddressSanitizer and UndefinedBehaviorSanitizer (clang,
# which also builds the fuzz targets). A plain Release build, as users and
# packagers make it, is built too but not tested a third time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

bash scripts/build.sh build
bash scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build --output-on-failure --timeout 300

bash scripts/build.sh build-asan -DCMAKE_CXX_COMPILER=clang++ -DCORVALD_SANITIZE=ON -DCORVALD_FUZZ=ON
# The suppressions cover what the system libraries under Qt keep until exit; they
# reach the programs that the tests start, too. What the normal build ran of the
# outside readers alone, the power cuts and the 96 MiB map is not run again here:
# they spend their time in the readers and the harness, not in the program.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  ctest --test-dir build-asan --output-on-failure --timeout 600 -E '^(jet_readers|powercut\..*|jet_write\.huge)$'
