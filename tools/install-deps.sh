#!/bin/sh
# Installs the Debian packages a build needs, only those that are missing.
# Usage: tools/install-deps.sh [group...]
#   groups: build (default), records, windows, qt-windows, usbemu, screenshot, fuzz, package
set -eu

# binutils (objcopy, and the ARM cross tools) make the HEX, S-record and ELF samples the
# image-format tests compare against.
build_pkgs="cmake ninja-build g++ pkg-config qtbase5-dev qtbase5-dev-tools libusb-1.0-0-dev binutils binutils-arm-none-eabi"
# The record store's drivers; the PostgreSQL server binaries (no service is started) for the
# tests' private servers, and sqlite3, with which a test edits a record behind zqprog's back.
records_pkgs="libqt5sql5-sqlite libqt5sql5-psql postgresql sqlite3"
windows_pkgs="g++-mingw-w64-x86-64 wine64 xvfb x11-utils fonts-dejavu-core fonts-liberation imagemagick"
# What tools/windows/build-qt.sh needs to cross-build Qt from Debian's source.
qt_windows_pkgs="g++-mingw-w64-x86-64 dpkg-dev make perl xz-utils gcc tcl"
usbemu_pkgs="umockdev libumockdev-dev"
screenshot_pkgs="xvfb imagemagick x11-utils fonts-liberation xdotool"
fuzz_pkgs="clang libclang-rt-14-dev"
# make package: CPack's dependency scan (dpkg-shlibdeps, file) and the check of the result.
package_pkgs="dpkg-dev file lintian"

groups="${*:-build}"
want=""
for g in $groups; do
    case "$g" in
        build) want="$want $build_pkgs" ;;
        records) want="$want $records_pkgs" ;;
        windows) want="$want $windows_pkgs" ;;
        qt-windows) want="$want $qt_windows_pkgs" ;;
        usbemu) want="$want $usbemu_pkgs" ;;
        screenshot) want="$want $screenshot_pkgs" ;;
        fuzz) want="$want $fuzz_pkgs" ;;
        package) want="$want $package_pkgs" ;;
        *) echo "install-deps: unknown group '$g'" >&2; exit 2 ;;
    esac
done

missing=""
for p in $want; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then SUDO="sudo"; else
        echo "install-deps: need root or sudo to install:$missing" >&2; exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing$missing"
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
