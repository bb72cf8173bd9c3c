#!/usr/bin/env bash
# Completes command lines of quillmere-cli the way bash does after a Tab,
# with the completion script and the program of this build, and checks the
# candidates offered.
#   completion_test.sh COMPLETION_SCRIPT BIN_DIR SAMPLE_DATABASE WORK_DIR
set -uo pipefail
script=$1 bin=$2 sample=$3 work=$4
export PATH="$bin:$PATH"
# shellcheck source=/dev/null
source "$script"

failures=0
# complete LINE: the candidates for the last word of LINE (a trailing blank
# starts a new, empty word), sorted, one line.
complete() {
    local line=$1
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quillmere_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ' -
}
expect() {
    local line=$1 want=$2 got
    got=$(complete "$line")
    if [[ "$got" != "$want" ]]; then
        echo "FAILED: '$line' completes to '$got', expected '$want'"
        failures=$((failures + 1))
    fi
}
# contains LINE WORD...: every WORD is among the candidates.
contains() {
    local line=$1 got word
    shift
    got=" $(complete "$line") "
    for word in "$@"; do
        if [[ "$got" != *" $word "* ]]; then
            echo "FAILED: '$line' does not offer '$word' (offers:$got)"
            failures=$((failures + 1))
        fi
    done
}

# Commands: every one the program lists, and only those for a prefix.
contains "quillmere-cli " check create dump exec rename send-to-access send-to-postgresql tables
expect "quillmere-cli se" "send-to-access send-to-postgresql"
expect "quillmere-cli --v" "--version"
expect "quillmere-cli nosuch" ""

# Options of the command being completed, not of another one.
expect "quillmere-cli dump --f" "--format"
expect "quillmere-cli send-to-postgresql x.mdb --o" "--overwrite"
expect "quillmere-cli send-to-access --s" "--skip-existing"
expect "quillmere-cli check --s" "--statistics"
expect "quillmere-cli tables --a" "--all"
expect "quillmere-cli exec x.mdb --k" "--keep-going"
contains "quillmere-cli create x.accdb --" --format --password-file --password-stdin

# Option values.
expect "quillmere-cli create x.accdb --format ace1" "ace12 ace14 ace16 ace17"
expect "quillmere-cli create x.accdb --format " "ace12 ace14 ace16 ace17 jet3 jet4"
expect "quillmere-cli dump x.mdb --format " "csv json"
expect "quillmere-cli send-to-postgresql x.mdb --pg " ""

# Files: Access files and folders where an Access file goes, any file after
# --password-file and --script, nothing where CONNINFO or SQL goes.
rm -rf "$work" && mkdir -p "$work/folder" && cd "$work" || exit 1
touch a.mdb B.ACCDB notes.txt "with blank.mdb"
expect "quillmere-cli tables " "B.ACCDB a.mdb folder with blank.mdb"
expect "quillmere-cli check w" "with blank.mdb"
expect "quillmere-cli exec --password-file n" "notes.txt"
expect "quillmere-cli exec a.mdb --script " "B.ACCDB a.mdb folder notes.txt with blank.mdb"
expect "quillmere-cli send-to-access " ""
expect "quillmere-cli send-to-access host=db " "B.ACCDB a.mdb folder with blank.mdb"
expect "quillmere-cli exec a.mdb " ""
expect "quillmere-cli rename w" "with blank.mdb"
expect "quillmere-cli rename --o" "--overwrite"

# Table names of the Access file named before, as the program lists them; a
# name with a blank comes escaped for the shell.
cp "$sample" "sample.mdb"
mapfile -t tables < <(quillmere-cli tables sample.mdb)
if ((${#tables[@]} == 0)); then
    echo "FAILED: quillmere-cli lists no tables in the sample database"
    failures=$((failures + 1))
fi
escaped=()
for t in "${tables[@]}"; do escaped+=("$(printf '%q' "$t")"); done
all=$(printf '%s\n' "${escaped[@]}" | sort | paste -sd ' ' -)
expect "quillmere-cli dump sample.mdb " "$all"
expect "quillmere-cli dump ./sample.mdb --format csv " "$all"
expect "quillmere-cli send-to-postgresql sample.mdb --pg dbname=x " "$all"
expect "quillmere-cli dump sample.mdb --table " "$all"
first=${tables[0]}
expect "quillmere-cli dump sample.mdb ${first:0:3}" "$(printf '%s\n' "${escaped[@]}" | grep "^${first:0:3}" | sort | paste -sd ' ' -)"
expect "quillmere-cli dump missing.mdb " ""
expect "quillmere-cli rename sample.mdb " "$all"
expect "quillmere-cli rename sample.mdb ${escaped[0]} " ""

cd / && rm -rf "$work"
if ((failures > 0)); then
    echo "$failures completion(s) wrong"
    exit 1
fi
echo "completions as expected"
