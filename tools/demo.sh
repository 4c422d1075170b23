#!/bin/bash
# Runs the filter host on the staged sample install with the sample requests.
set -euo pipefail
BUILD=${1:-build}
echo "demo: the filter host is not wired yet"
