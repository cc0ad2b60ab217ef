#!/usr/bin/env bash
# The Windows demo end to end, on the programs this build made: it plays the
# update and saves its four pictures, each a PNG file.
#   demo_smoke.sh SOURCE_DIR HOST_BUILD_DIR WINDOWS_BUILD_DIR OUT_DIR
set -euo pipefail
# A Wine service the demo brings up lives on with whatever it inherited:
# ctest's own descriptors must not be among them, or ctest waits for them.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  if [ "$fd" -gt 2 ]; then eval "exec $fd>&-" 2>/dev/null || true; fi
done
src=$1 out=$4
rm -rf "$out"
mkdir -p "$out"
log=$out/demo.log
if ! TV_DEMO_DIR=$out/demo TV_DEMO_HOST_BIN=$2 TV_DEMO_WIN_BIN=$3 \
  bash "$src/tools/demo/run" --windows </dev/null >"$log" 2>&1; then
  cat "$log"
  echo "the demo failed"
  exit 1
fi
missing=0
for name in 1-transfer 2-please-wait 3-server-select 4-message-box; do
  f=$out/demo/screenshots/$name.png
  if [ ! -s "$f" ] || [ "$(head -c 4 "$f" | tail -c 3)" != PNG ]; then
    echo "no picture $name.png"
    missing=1
  fi
done
if [ $missing -ne 0 ]; then
  cat "$log"
  exit 1
fi
rm -rf "$out/demo" # its content and the player's copy: tens of MB
echo "the demo saved its 4 pictures"
