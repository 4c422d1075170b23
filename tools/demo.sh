#!/bin/bash
# Runs the filter host on the staged sample install with the sample requests
# and prints what the module decided for each.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
"$BUILD/host/hxhost" --install "$BUILD/stage" samples/requests/*.txt
