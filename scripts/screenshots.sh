#!/bin/sh
# Takes a picture of each page under a virtual X server and writes
# docs/screenshots/form1.png and form2.png, and, against the throw-away server
# of scripts/pg-cluster.sh, connection-failed.png ("Test Connection" with a
# wrong password).
#   scripts/screenshots.sh [build folder]        (default: build)
# Needs xvfb (xvfb-run) and the quillmere-screenshots tool of the build.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
tool="$build/tests/app/quillmere-screenshots"
if [ ! -x "$tool" ]; then
    cmake --build "$build" --target quillmere-screenshots -j2
fi
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
# A throw-away settings folder: the tool never touches the user's settings.
XDG_CONFIG_HOME="$config" XDG_RUNTIME_DIR="$config" QT_QPA_PLATFORM=xcb \
    "$here/scripts/pg-cluster.sh" -- xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$tool" "$here/docs/screenshots"
