#!/usr/bin/env bash
# Installs what is needed, makes a Release build, writes the benchmark data once
# (about 700 MB in build-bench/bench-data; remove that folder to make it anew),
# then times start-up, dump and convert beside their floors and the Python peer,
# and start-up on a private Xvfb, and prints the table. Extra arguments go to
# corvald_perf, e.g. "--repeat 3" or the names of the sets to measure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

bash scripts/build.sh build-bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
build-bench/tools/make_bench_data build-bench/bench-data
build-bench/bench/corvald_perf build-bench/bench-data --program build-bench/corvald --peer bench/peer.py \
  --jet tests/fixtures/jet/maps-3000.mdb "$@"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB memory"
