#!/usr/bin/env bash
# Builds QelCustInst.dll and the demo package, installs the package under Wine from a fixed drive
# and from a CD-ROM drive, and shows what qelAreWeRunningFromCD set PROMPT_FOR_CD1 to each time
# (and that qelPromptForOriginalDisk's message 26002 reached the installer's log).
# The Wine prefix is kept in build/wine-demo, so only the first run pays for Wine's first start.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh

echo "== building QelCustInst.dll"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"

echo "== the DLL's export and import tables"
tests/wine/check-exports.sh build/windows/QelCustInst.dll

echo "== installing from a fixed drive and from a CD-ROM drive"
tests/wine/install-demo.sh --prompt --drives fixed,cdrom build/windows/QelCustInst.dll build/wine-demo
