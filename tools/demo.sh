#!/bin/bash
# Runs the filter host on the staged sample install: what the module decided
# for every sample request, and for the Premium read page also the answer that
# goes to the client (headers and the rewritten page). The other answers are
# left out to keep the output readable; `hxhost --install build/stage REQUEST`
# prints any of them.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
HOST=("$BUILD/host/hxhost" --install "$BUILD/stage")
FULL=samples/requests/premium_read_item.txt

decisions_only=()
for request in samples/requests/*.txt; do
  [[ $request == "$FULL" ]] || decisions_only+=("$request")
done

echo "##### Decisions for every sample request"
"${HOST[@]}" --no-answer "${decisions_only[@]}"
echo
echo "##### Decisions and answer for $FULL"
"${HOST[@]}" "$FULL"
