#!/usr/bin/env bash
# Builds the project and prints the bundled sample document through the
# filter pipeline: data/samples/sample.xps -> build/sample-out.xps.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh build
build/zntr-print --progress data/samples/sample.xps build/sample-out.xps
echo "output: $(pwd)/build/sample-out.xps (render it with: mutool draw -o page%d.png build/sample-out.xps)"
