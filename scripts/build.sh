#!/usr/bin/env bash
# Configures and builds one build tree, warnings as errors:
# scripts/build.sh <dir> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVALD_WERROR=ON "$@"
cmake --build "$dir"
