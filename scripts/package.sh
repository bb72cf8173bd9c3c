#!/usr/bin/env bash
# Builds the Debian package dist/quillmere_VERSION_ARCH.deb and checks it with
# lintian (an error fails the build). Works on a fresh Debian 12 machine as
# root: installs what it needs first, as ./run does.
#
#   scripts/package.sh                 a Release build of its own in build-package/
#   scripts/package.sh --reuse BUILD   packages an existing build folder (./test
#                                      uses its own build this way)
#
# The package file is the one line on standard output; everything else goes
# to standard error.
# Environment: PACKAGE_BUILD_DIR (default build-package), QM_SKIP_INSTALL=1 to
# skip the package check, QM_SKIP_LINTIAN=1 to skip lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

build=${PACKAGE_BUILD_DIR:-build-package}
reuse=0
case "${1:-}" in
--reuse)
    build=${2:?usage: $0 [--reuse BUILD_DIR]}
    reuse=1
    ;;
"") ;;
*)
    echo "usage: $0 [--reuse BUILD_DIR]" >&2
    exit 2
    ;;
esac

if [[ "${QM_SKIP_INSTALL:-0}" != 1 ]]; then
    scripts/install-packages.sh package
fi

if [[ $reuse == 0 ]]; then
    # The flags dpkg-buildflags gives every Debian package: -O2, hardening
    # (fortified functions, stack protector, read-only relocations, immediate
    # binding), build paths kept out of the binaries. No -g: the programs are
    # stripped. The Release type adds only -DNDEBUG (its own -O3 makes GCC 12
    # report a false -Wrestrict in std::string, which -Werror turns fatal).
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
    CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
    export CXXFLAGS LDFLAGS
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
        -DQUILLMERE_GUI=ON -DQUILLMERE_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >&2
elif [[ ! -f "$build/CMakeCache.txt" ]]; then
    echo "package: $build is not a configured build folder" >&2
    exit 2
fi
cmake --build "$build" -j"$(nproc)" --target quillmere quillmere-cli sample_database man_pages package_changelog >&2

# CPack installs into a staging folder, strips the programs, asks
# dpkg-shlibdeps for the dependencies and writes dist/.
(cd "$build" && cpack -G DEB -C Release) >&2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="dist/quillmere_${version}_$(dpkg --print-architecture).deb"
if [[ ! -f "$deb" ]]; then
    echo "package: cpack did not write $deb" >&2
    exit 1
fi

if [[ "${QM_SKIP_LINTIAN:-0}" != 1 ]]; then
    echo "package: lintian $deb" >&2
    lintian --fail-on error "$deb" >&2 ||
        {
            echo "package: lintian found errors in $deb" >&2
            exit 1
        }
fi
echo "$root/$deb"
