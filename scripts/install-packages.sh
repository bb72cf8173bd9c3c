#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/debian-packages that are not
# installed yet. Does nothing (and needs no network) when all are present.
#   scripts/install-packages.sh run     the [run] section: build and run
#   scripts/install-packages.sh package [run] and [package]: building the Debian package
#   scripts/install-packages.sh test    all of them: everything the tests need
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
purpose=${1:-test}
case "$purpose" in
run) sections=" run " ;;
package) sections=" run package " ;;
test) sections=" run test package " ;;
*)
    echo "usage: $0 run|package|test" >&2
    exit 2
    ;;
esac

missing=()
section=run
while read -r pkg cmd _; do
    [[ -z "$pkg" ]] && continue
    if [[ "$pkg" =~ ^\[(.*)\]$ ]]; then
        section=${BASH_REMATCH[1]}
        continue
    fi
    [[ "$sections" == *" $section "* ]] || continue
    if [[ -n "${cmd:-}" ]] && command -v "$cmd" >/dev/null; then continue; fi
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done < <(sed -e 's/#.*//' "$here/debian-packages")
if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "install-packages: installing ${missing[*]}" >&2
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    if command -v sudo >/dev/null; then
        sudo=(sudo)
    else
        echo "install-packages: missing packages and not root: ${missing[*]}" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
