#!/usr/bin/env bash
# The Debian package as a user meets it: built from the test build, installed
# on this machine with apt-get, its programs, sample database, man pages,
# desktop files and completion tried, then purged and checked gone.
#   scripts/test.d/50-package.sh [BUILD_DIR]
# Needs root (or sudo). A machine that has a quillmere package installed
# already is left alone: the check is skipped with a message.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/../.."

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        sudo=(sudo -n)
    else
        echo "package check SKIPPED: installing the package needs root" >&2
        exit 0
    fi
fi
if dpkg-query -W -f='${Status}' quillmere 2>/dev/null | grep -q "install ok installed"; then
    echo "package check SKIPPED: a quillmere package is installed on this machine already" >&2
    exit 0
fi

failures=0
fail() {
    echo "package check FAILED: $*" >&2
    failures=$((failures + 1))
}

deb=$(scripts/package.sh --reuse "$build" | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
mapfile -t packaged < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e '/\/$/d')
echo "package: $deb ($version, ${#packaged[@]} files)"

export DEBIAN_FRONTEND=noninteractive
apt_options=(-y -q -o DPkg::Lock::Timeout=300
    # Container images often keep dpkg from installing man pages and
    # documentation; this package's own are part of what is checked.
    -o "DPkg::Options::=--path-include=/usr/share/man/man1/quillmere*"
    -o "DPkg::Options::=--path-include=/usr/share/doc/quillmere/*")
purge() { "${sudo[@]}" apt-get remove --purge "${apt_options[@]}" quillmere >/dev/null; }
trap 'dpkg-query -W quillmere >/dev/null 2>&1 && purge' EXIT
"${sudo[@]}" apt-get install "${apt_options[@]}" "$deb"

for f in "${packaged[@]}"; do
    [[ -e "$f" || -L "$f" ]] || fail "$f was not installed"
done

# The programs and their versions; the window's answer needs no display.
[[ "$(quillmere-cli --version)" == "quillmere-cli $version" ]] || fail "quillmere-cli --version: $(quillmere-cli --version)"
shown=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb quillmere --version 2>&1) || true
[[ "$shown" == "quillmere $version" ]] || fail "quillmere --version without a display: $shown"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb quillmere --help 2>&1 | grep -q "^Usage: quillmere" ||
    fail "quillmere --help without a display"

# The installed sample database, where the program looks for it (beside the
# executable bin/quillmere points to), read by the installed quillmere-cli.
program=$(readlink -f /usr/bin/quillmere)
sample="$(dirname "$program")/Samples/sample.mdb"
if [[ ! -f "$sample" ]]; then
    fail "no sample database at $sample"
else
    tables=$(quillmere-cli tables "$sample") || fail "quillmere-cli tables $sample"
    [[ -n "$tables" ]] || fail "quillmere-cli lists no tables in $sample"
    if command -v mdb-tables >/dev/null; then
        expected=$(mdb-tables -1 "$sample" | sort)
        [[ "$(sort <<<"$tables")" == "$expected" ]] || fail "quillmere-cli and mdb-tables list different tables"
    fi
    rows=$(quillmere-cli dump "$sample" --format json | wc -l) || fail "quillmere-cli dump $sample"
    ((rows > 0)) || fail "quillmere-cli dump $sample wrote no rows"
    quillmere-cli check "$sample" 2>/dev/null || fail "quillmere-cli check $sample"
    echo "package: sample database: $(wc -l <<<"$tables") tables, $rows rows"
fi

# Man pages: found by man, rendered without a warning.
for page in quillmere quillmere-cli; do
    path=$(man -w "$page" 2>/dev/null) || { fail "man -w $page finds nothing"; continue; }
    [[ "$path" == /usr/share/man/man1/$page.1.gz ]] || fail "man -w $page: $path"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$path" 2>&1 >/dev/null)
    [[ -z "$warnings" ]] || fail "man page $page: $warnings"
done

# Desktop entry and AppStream metadata.
desktop-file-validate /usr/share/applications/example.quillmere.Quillmere.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net /usr/share/metainfo/example.quillmere.Quillmere.metainfo.xml || fail "appstreamcli validate"

# Completion as bash loads it, on the installed program.
completed=$(bash -c 'source /usr/share/bash-completion/completions/quillmere-cli
    COMP_WORDS=(quillmere-cli send-to-); COMP_CWORD=1; _quillmere_cli; echo "${COMPREPLY[*]}"')
[[ "$completed" == "send-to-access send-to-postgresql" ]] || fail "bash completion of 'send-to': $completed"

# Removed with everything it brought.
purge
trap - EXIT
dpkg-query -W -f='${Status}' quillmere 2>/dev/null | grep -q "installed" && fail "quillmere is still installed"
for f in "${packaged[@]}"; do
    [[ -e "$f" || -L "$f" ]] && fail "$f is still there after the purge"
done
[[ -d /usr/lib/quillmere ]] && fail "/usr/lib/quillmere is still there after the purge"

if ((failures > 0)); then
    echo "package check: $failures failure(s)" >&2
    exit 1
fi
echo "package check: installed, checked and removed $deb"
