#!/usr/bin/env bash
# Installs everything needed to build, run and test the program on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format \
  qt6-base-dev libgl-dev libx11-dev libxtst-dev libsqlcipher-dev libssl-dev sqlcipher zlib1g-dev \
  libgtest-dev libgmock-dev libbenchmark-dev python3 \
  mdbtools mdbtools-dev libglib2.0-dev \
  fonts-wine fonts-liberation fontconfig \
  xvfb xdotool x11-apps x11-utils imagemagick strace \
  fuse3 python3-fusepy openjdk-17-jdk-headless libcommons-lang3-java libcommons-logging-java nodejs
# Debian's npm; a nodejs from elsewhere (NodeSource) brings its own and conflicts with it.
command -v npm >/dev/null || apt-get install -y --no-install-recommends npm
# mdb-reader, a JavaScript Jet reader the tests check Jet files with, at the version of its lock file.
npm ci --prefix tests/e2e/mdb_reader --ignore-scripts --no-audit --no-fund
