#!/bin/bash
# Records where the module spends its time: the profile-recording build's host
# runs every sample request, many times over so that the request path, not the
# one-time loading of the settings, is what the record finds hot. The
# optimised build then lays out and inlines the module's code from the record.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$1
PROFILE_DIR=$2
PASSES=20

rm -rf "$PROFILE_DIR"
requests=()
for ((pass = 0; pass < PASSES; pass++)); do
  requests+=(samples/requests/*.txt)
done
"$BUILD/host/hxhost" --install "$BUILD/stage" --no-answer "${requests[@]}" >/dev/null
if ! compgen -G "$PROFILE_DIR/*.gcda" >/dev/null; then
  echo "train_profile: the run left no profile in $PROFILE_DIR" >&2
  exit 1
fi
