#!/usr/bin/env bash
# Installs what is needed, makes a Release build, writes the benchmark data once
# (about 900 MB in build-bench/bench-data; remove that folder to make it anew),
# then times start-up, dump and convert beside their floors and the Python peer,
# start-up and the convert of the window program on a private Xvfb beside
# corvald-batch, and Jet databases beside SQLCipher ones, and prints the tables.
# Extra arguments go to corvald_perf, e.g. "--repeat 5" or the names of the sets
# to measure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

bash scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
build-bench/tools/make_bench_data build-bench/bench-data
build-bench/bench/corvald_perf build-bench/bench-data --program build-bench/corvald \
  --batch build-bench/batch/corvald-batch --peer bench/peer.py \
  --jet tests/fixtures/jet/maps-3000.mdb --jet-empty tests/fixtures/jet/empty.mdb "$@"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB memory"
