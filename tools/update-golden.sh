#!/usr/bin/env bash
# Writes the expected output of the golden-file tests anew from what the code
# produces now; review the change with `git diff tests/data` before committing.
# Usage: tools/update-golden.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tools/setup.sh "$build"
ZNTR_UPDATE_GOLDEN=1 "$build/rewriter_test" --gtest_filter='*Golden*'
ZNTR_UPDATE_GOLDEN=1 "$build/finishing_test" --gtest_filter='*Golden*'
git status --short tests/data
