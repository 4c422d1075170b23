#!/bin/bash
# Loads one page in headless Chromium the way the tests do: writes the
# DOM the browser built to DOM_OUT and the browser's console lines (script
# errors among them) to CONSOLE_OUT. Missing scripts and images of the page
# only fail to load; they do not fail this script. With BUDGET_MS the DOM is
# dumped once the page's timers have had that much virtual time, so that work
# a page schedules after loading (clicks, javascript: links) is done.
# PAGE is an http:// URL (the tests serve each page over loopback HTTP with
# the answer's own headers, so the browser sees its Content-Type) or a file,
# loaded as file:// (which shows the browser no Content-Type). HX_LOAD_SECONDS
# bounds each load (default 120): a page the browser never shows, as a body
# it cannot decode, fails within it.
#   tests/browser/load_page.sh PAGE DOM_OUT CONSOLE_OUT [BUDGET_MS]
set -uo pipefail
page=$1 dom_out=$2 console_out=$3
budget=()
if [[ -n "${4:-}" ]]; then budget=(--virtual-time-budget="$4"); fi
browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z "$browser" ]]; then
  echo "chromium is not installed (tools/apt-packages.txt lists it; run make setup)" >&2
  exit 2
fi
url=$page
if [[ "$page" != http://* && "$page" != https://* ]]; then url="file://$(realpath "$page")"; fi
profile=$(mktemp -d "${TMPDIR:-/tmp}/hx-chromium-XXXXXX")
trap 'rm -rf "$profile"' EXIT
# --no-sandbox: CI runs as root, where Chromium's sandbox refuses to start.
load() {
  timeout "${HX_LOAD_SECONDS:-120}" "$browser" --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
    --no-first-run --no-default-browser-check --disable-extensions --user-data-dir="$profile" \
    --enable-logging=stderr --v=0 "${budget[@]}" --dump-dom "$url" >"$dom_out" 2>"$profile/log"
}
load
status=$?
# On a loaded machine Chromium now and then dies of a signal at start-up,
# whatever the page; a page that really kills it does so twice.
if ((status > 128)); then
  load
  status=$?
fi
grep 'CONSOLE' "$profile/log" >"$console_out" || true
exit $status
