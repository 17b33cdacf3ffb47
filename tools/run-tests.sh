#!/usr/bin/env bash
# Builds the project and runs every test.
# Usage: tools/run-tests.sh [--sanitize address|undefined|thread]
# A sanitizer build goes to build-<sanitizer>, the normal one to build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
args=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-$2
  args=(-DZNTR_SANITIZE="$2" -DCMAKE_BUILD_TYPE=Debug)
fi
tools/setup.sh "$build" "${args[@]}"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
