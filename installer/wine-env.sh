# shellcheck shell=bash
# Shared by the Wine runs (sourced, not run): the tools they need, the lock on their work folder
# and the environment of its Wine prefix.
#
#   wine_enter NAME WORK TOOL...
#
# Fails with a message naming NAME when a tool is missing or another run holds WORK; otherwise
# holds WORK's lock on descriptor 9 until the caller exits and exports WINEPREFIX (WORK/prefix) and
# the settings that keep Wine quiet and skip its Mono and Gecko prompts.
wine_enter() {
    local name="$1" work="$2"
    shift 2
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$name: $tool is missing; run scripts/setup.sh" >&2; exit 1; }
    done
    mkdir -p "$work"
    exec 9>"$work/.lock"
    flock -w 900 9 || { echo "$name: $work is in use by another run" >&2; exit 1; }
    export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}
