#!/usr/bin/env bash
# The guide's generated table of the model's calls, each with what the fault sweep's refusals of it
# answer: made from the host platform header (the calls, in its order and sections) and the sweep's
# rows (by GENERATOR, tests/kit/guide_tables.cpp), and compared with the guide's copy.
#
#   check-guide-tables.sh GENERATOR           fails when the guide's table differs, showing how
#   check-guide-tables.sh GENERATOR --write   writes the table into the guide
set -euo pipefail

(($# >= 1 && $# <= 2)) || { echo "usage: check-guide-tables.sh GENERATOR [--write]" >&2; exit 2; }
generator="$1"
write="${2:-}"
[[ -z "$write" || "$write" == --write ]] || { echo "usage: check-guide-tables.sh GENERATOR [--write]" >&2; exit 2; }
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
header="$source_dir/platform/host/QelCustInst/QelPlatform.h"
guide="$source_dir/docs/AUTHORING.md"
begin='<!-- The model'"'"'s calls: made by tests/kit/check-guide-tables.sh --write; the test command checks it. -->'
end='<!-- End of the made table. -->'
[[ -x "$generator" ]] || { echo "check-guide-tables: no $generator; build the host preset" >&2; exit 77; }

# Each declared function with the section it is declared in (the first line of the comment that
# opens the run of declarations, to its first ": ") and its result type.
calls="$(awk '
    /^\/\/ / && !incomment { section = substr($0, 4); sub(/: .*$/, "", section); sub(/\.$/, "", section) }
    { incomment = /^\/\// }
    match($0, /^[A-Za-z_]+ WINAPI [A-Za-z0-9]+\(/) {
        split(substr($0, RSTART, RLENGTH - 1), words, " ")
        print section "\t" words[1] "\t" words[3]
    }
' "$header")"
table="$(printf '%s\n' "$calls" | "$generator")"

current="$(awk -v b="$begin" -v e="$end" '$0 == e { inside = 0 } inside { print } $0 == b { inside = 1 }' "$guide")"
if [[ "$write" == --write ]]; then
    grep -qxF -- "$begin" "$guide" || { echo "check-guide-tables: the guide has no line: $begin" >&2; exit 1; }
    out="$(mktemp "$guide.XXXXXX")"
    trap 'rm -f "$out"' EXIT
    awk -v b="$begin" -v e="$end" -v table="$table" '
        $0 == b { print; print table; skipping = 1; next }
        $0 == e { skipping = 0 }
        !skipping { print }
    ' "$guide" >"$out"
    chmod --reference="$guide" "$out"
    mv "$out" "$guide"
    echo "check-guide-tables: wrote $(wc -l <<<"$table") lines into $guide"
    exit 0
fi
if [[ "$current" != "$table" ]]; then
    echo "check-guide-tables: the guide's table of the model's calls is stale; run: $0 $generator --write" >&2
    diff <(printf '%s\n' "$current") <(printf '%s\n' "$table") >&2 || true
    exit 1
fi
echo "check-guide-tables: the guide's table of $(wc -l <<<"$calls") calls stands"
