#!/usr/bin/env bash
# make test, once the packages are there and the host tree is configured.
# The simulator first. Then the real-time tests, which wait on the wall
# clock and need nothing else, while the rest of the host build goes on
# beside them at a lower processor priority and the images at the lowest
# (they take nothing from a test that runs in real time); then every other
# test, the images still building in the time the tests leave free. The
# log of the images follows the results.
# Usage: scripts/test.sh [JOBS]
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}

cmake --build --preset host --target phlogger-sim -j "$jobs" || exit 1

# A script's background jobs ignore Ctrl-C unless told otherwise.
( trap - INT QUIT; MAKEFLAGS= exec nice -n 19 make --no-print-directory images JOBS="$jobs" ) \
    >build/images.log 2>&1 &
images=$!
( trap - INT QUIT; exec nice -n 10 cmake --build --preset host -j "$jobs" ) \
    >build/host-build.log 2>&1 &
host=$!
trap 'kill $images $host 2>/dev/null' EXIT

ctest --preset realtime
realtime=$?

wait $host
built=$?
if [ $built -eq 0 ]; then
  ctest --preset host-rest -j "$jobs"
  rest=$?
else
  cat build/host-build.log
  echo "make test: the host build failed" >&2
  rest=1
fi

wait $images
imaged=$?
if [ $imaged -eq 0 ]; then
  grep -v '^\[' build/images.log
else
  cat build/images.log
  echo "make test: the images failed to build" >&2
fi
[ $realtime -eq 0 ] && [ $rest -eq 0 ] && [ $imaged -eq 0 ]
