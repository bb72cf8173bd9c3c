#!/usr/bin/env bash
# The man pages of this build: they render without a warning, carry the
# programs' version, and quillmere-cli(1) describes every command the program
# lists, each with every option its --help shows.
#   man_pages_test.sh BIN_DIR MAN_DIR
set -uo pipefail
bin=$1 man=$2
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# Roff source as plain text: \- is a hyphen, font changes go.
plain() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$1"; }

# The options a --help text shows in its option column.
options_of() { sed -n 's/^ *\(-[a-zA-Z], \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p'; }

for program in quillmere quillmere-cli; do
    page="$man/$program.1"
    [[ -f "$page" ]] || { fail "no $page"; continue; }
    if command -v man >/dev/null; then
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    else
        warnings=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
    fi
    [[ -z "$warnings" ]] || fail "$program.1 renders with warnings: $warnings"
    version=$(QT_QPA_PLATFORM=offscreen "$bin/$program" --version | awk '{print $2}')
    grep -q "^\.TH .*\"Quillmere $version\"" "$page" || fail "$program.1 is not the page of version $version"
done

# quillmere(1): the options the program answers itself.
# (grep -q ends at the first match; read from a string, no writer is cut off by it under pipefail.)
wizard_page=$(plain "$man/quillmere.1")
for option in $(QT_QPA_PLATFORM=offscreen "$bin/quillmere" --help | options_of); do
    grep -q -- "$option" <<<"$wizard_page" || fail "quillmere.1 does not describe $option"
done

# quillmere-cli(1): one subsection per command, holding the command's options;
# --help and --help-all belong to the general options.
cli_page=$(plain "$man/quillmere-cli.1")
# section NAME: the lines of the .SS subsection whose title starts with NAME.
section() {
    awk -v name="$1" '
        /^\.S[SH] / { title = $0; sub(/^\.S[SH] "?/, "", title); sub(/"$/, "", title); inside = (index(title, name " ") == 1 || title == name) }
        inside' <<<"$cli_page"
}
general=$(section "General options")
[[ -n "$general" ]] || fail "quillmere-cli.1 has no General options"
synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH DESCRIPTION/s/^\.B \([a-z][a-z-]*\)$/\1/p' <<<"$cli_page")
commands=$("$bin/quillmere-cli" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p')
[[ -n "$commands" ]] || fail "quillmere-cli --help lists no commands"
for command in $commands; do
    text=$(section "$command")
    if [[ -z "$text" ]]; then
        fail "quillmere-cli.1 has no subsection for the command $command"
        continue
    fi
    grep -qx -- "$command" <<<"$synopsis" || fail "the synopsis of quillmere-cli.1 does not show $command"
    for option in $("$bin/quillmere-cli" "$command" --help </dev/null | options_of); do
        case $option in
        --help | --help-all) grep -q -- "$option" <<<"$general" || fail "General options do not describe $option" ;;
        *) grep -q -- "$option" <<<"$text" || fail "quillmere-cli.1 does not describe $option under $command" ;;
        esac
    done
done
for status in 0 1 2 3; do
    section "EXIT STATUS" | grep -q "^\.B $status\$" || fail "quillmere-cli.1 does not explain exit status $status"
done

if ((failures > 0)); then
    echo "$failures finding(s) in the man pages"
    exit 1
fi
echo "man pages as expected"
