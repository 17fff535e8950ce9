#!/usr/bin/env bash
# Starts as an author who has only the release: unpacks its kits (each matching its SHA-256) into a
# fresh folder outside this repository, makes a project with the kit's one command, builds it for
# the host and for 32-bit and 64-bit Windows, runs its tests and its sweep, and installs its
# packages under Wine with the command the project holds. Nothing of the repository is on any path
# the project's builds see: the environment is cleared to PATH, HOME and TMPDIR, and no file of the
# builds names the repository. Prints the time from unpacking to the first installed package and
# each archive's size. Before all that, what qel-new-action refuses, each with its reason and with
# nothing written.
#
#   check-release-kits.sh RELEASE WINE-WORK
#
# RELEASE is the folder scripts/release.sh fills (build/windows/release); WINE-WORK the Wine work
# folder the kit tests share. Exit status 77 (skipped, for ctest) when the release has no kits.
set -euo pipefail

(($# == 2)) || { sed -n 's/^#   //p' "$0" >&2; exit 2; }
release="$(realpath -m "$1")" wine_work="$(realpath -m "$2")"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd -P)"
jobs="$(nproc)"
say() { echo "check-release-kits: $*"; }
fail() { echo "check-release-kits: $*" >&2; exit 1; }

archives=()
for kind in windows-i686 windows-x64 host-; do
    found=("$release"/QelCustInst-kit-*-"$kind"*.tar.gz)
    [[ -f "${found[0]}" ]] || {
        echo "check-release-kits: no $kind kit in $release: make the release (scripts/release.sh) after the" \
            "windows, windows-x64 and host builds" >&2
        exit 77
    }
    archives+=("${found[0]}")
done
command -v wine >/dev/null || { echo "check-release-kits: wine is not installed" >&2; exit 77; }
version="$(sed -E 's/^QelCustInst-kit-([0-9.]+)-.*/\1/' <<<"${archives[0]##*/}")"
(cd "$release" && for archive in "${archives[@]}"; do sha256sum --quiet -c "${archive##*/}.sha256"; done) ||
    fail "an archive does not match its SHA-256"

# A fresh folder outside the repository, removed at the end; an environment with nothing of ours.
fresh="$(mktemp -d "${TMPDIR:-/tmp}/qel-release-kits.XXXXXX")"
trap 'rm -rf "$fresh"' EXIT
[[ "$fresh/" != "$source_dir/"* ]] || fail "the fresh folder $fresh lies in the repository"
mkdir "$fresh/home" "$fresh/tmp" "$fresh/kits"
author() { (cd "${where:-$fresh}" && env -i HOME="$fresh/home" TMPDIR="$fresh/tmp" PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"); }

began=$SECONDS
for archive in "${archives[@]}"; do
    author tar -xzf "$archive" -C "$fresh/kits"
done
windows_kit="$fresh/kits/QelCustInst-kit-$version-windows"
new_action="$windows_kit/bin/qel-new-action"
[[ -x "$new_action" && -d "$fresh/kits/QelCustInst-kit-$version-host" ]] ||
    fail "the archives did not unpack into QelCustInst-kit-$version-windows/ and -host/: $(ls "$fresh/kits")"
say "unpacked in $((SECONDS - began)) s: $(cd "$fresh/kits" && echo *)"
# The kits' text files (their CMake package above all) name no folder of the build they came from.
leaks="$(grep -rlIF "$source_dir" "$fresh/kits" | head -n 3 || true)"
[[ -z "$leaks" ]] || fail "the kits name the repository ($source_dir): $leaks"

# What the command refuses: name | folder | a word of the reason. Each must exit 2 and write nothing.
mkdir "$fresh/refused" "$fresh/elsewhere"
touch "$fresh/refused/taken"
ln -s "$fresh/elsewhere" "$fresh/refused/link"
ln -s "$fresh/nowhere" "$fresh/refused/dangling"
refusals=(
    "1action|$fresh/refused/new|not a C identifier"
    "my-action|$fresh/refused/new|not a C identifier"
    "class|$fresh/refused/new|keyword"
    "__action|$fresh/refused/new|reserved"
    "test|$fresh/refused/new|CMake keeps"
    "MsiThing|$fresh/refused/new|installer's API"
    "Sleep|$fresh/refused/new|declared by the Windows headers"
    "myAction|$fresh/refused/taken|exists"
    "myAction|$fresh/refused/link|as a link"
    "myAction|$fresh/refused/dangling|as a link"
    "myAction|$fresh/refused/missing/new|is not a folder"
)
faults=()
for entry in "${refusals[@]}"; do
    IFS='|' read -r name folder reason <<<"$entry"
    status=0
    output="$(author "$new_action" "$name" "$folder" 2>&1)" || status=$?
    ((status == 2)) && [[ "$output" == *"$reason"* ]] || faults+=("$name $folder: exit status $status, '$output'")
done
written="$(find "$fresh/refused" "$fresh/elsewhere" -mindepth 1 | sort | tr '\n' ' ')"
[[ "$written" == "$fresh/refused/dangling $fresh/refused/link $fresh/refused/taken " ]] ||
    faults+=("a refused command wrote: $written")
((${#faults[@]} == 0)) || fail "qel-new-action refused wrongly:$(printf '\n  - %s' "${faults[@]}")"
say "qel-new-action refused ${#refusals[@]} names and folders, each with its reason, writing nothing"

# The kit's version, as find_package weighs it: a project asking for an older version of the same
# major version takes it, one asking for a later or another major version does not.
[[ "$version" =~ ^([0-9]+)\.([0-9]+)$ ]] || fail "the archives' version '$version' is not MAJOR.MINOR"
older="${BASH_REMATCH[1]}.0" later="${BASH_REMATCH[1]}.$((BASH_REMATCH[2] + 1))" next="$((BASH_REMATCH[1] + 1)).0"
mkdir "$fresh/versions"
cat >"$fresh/versions/CMakeLists.txt" <<'EOF_'
cmake_minimum_required(VERSION 3.25)
project(Versions LANGUAGES CXX)
foreach(asked ${ASKED})
    find_package(QelCustInst ${asked} CONFIG QUIET)
    message(STATUS "asked ${asked}: ${QelCustInst_FOUND}")
    unset(QelCustInst_DIR CACHE)
endforeach()
EOF_
weighed="$(author cmake -S "$fresh/versions" -B "$fresh/versions/build" -DASKED="$older;$version;$later;$next" \
    -DCMAKE_PREFIX_PATH="$fresh/kits/QelCustInst-kit-$version-host" | sed -n 's/^-- asked //p' | tr '\n' ' ')"
[[ "$weighed" == "$older: 1 $version: 1 $later: 0 $next: 0 " ]] ||
    fail "find_package weighed the kit $version wrongly (asked: found): $weighed"
say "find_package takes the kit $version for $older and $version, not for $later or $next"

# The project, made and built as its README says.
name=checkReleasedKit
project="$fresh/projects/$name"
mkdir "$fresh/projects"
author "$new_action" "$name" "$project"
build() { where="$project" author "$@"; }
build cmake --preset host >/dev/null
build cmake --build --preset host -j"$jobs" >/dev/null
build ctest --preset host -j"$jobs" >/dev/null
sweeps="$(grep -h '^sweep ' "$project"/build/host/Testing/Temporary/LastTest*.log || true)"
for world in SetupIniThere NoSetupIni; do
    [[ "$sweeps" =~ sweep\ $world:\ ([0-9]+)\ cases\ run,\ ([0-9]+)\ held && ${BASH_REMATCH[1]} -gt 1 &&
        ${BASH_REMATCH[1]} == "${BASH_REMATCH[2]}" ]] || fail "the project's sweep in $world is not whole: $sweeps"
done
say "host: tests passed; ${sweeps//$'\n'/; }"
for preset in windows windows-x64; do
    build cmake --preset "$preset" >/dev/null
    build cmake --build --preset "$preset" -j"$jobs" >/dev/null
    [[ -f "$project/build/$preset/$name.dll" && -f "$project/build/$preset/package/$name.msi" ]] ||
        fail "the $preset build made no $name.dll or package/$name.msi"
done
say "windows, windows-x64: $name.dll and package/$name.msi each"
leaks="$(grep -rlIF "$source_dir" "$project" | head -n 3 || true)"
[[ -z "$leaks" ]] || fail "the project's builds name the repository ($source_dir): $leaks"

# Its packages under Wine, in the kit tests' Wine work folder, with the project's own command.
mkdir -p "$wine_work"
first=""
for entry in "windows|cdrom" "windows-x64|fixed"; do
    IFS='|' read -r preset drive <<<"$entry"
    status=0
    output="$(build package/run-package.sh "build/$preset" --work "$wine_work" --drive "$drive" 2>&1)" || status=$?
    [[ -n "$first" ]] || first=$((SECONDS - began))
    missing=()
    for line in "exit code: 0" "installed: yes" "property: SETUP_INI_FOUND = 0" "action: $name return value 1" \
        "uninstall exit status: 0"; do
        grep -qxF -- "$line" <<<"$output" || missing+=("$line")
    done
    ((status == 0 && ${#missing[@]} == 0)) ||
        fail "the $preset package under Wine (exit status $status) did not print: ${missing[*]}"$'\n'"$output"
    say "$preset package installed and removed under Wine from a $drive drive"
done
say "from unpacking to the first installed package: $first s; in all $((SECONDS - began)) s"
for archive in "${archives[@]}"; do
    say "$(stat -c %s "$archive") bytes  ${archive##*/}"
done
