#!/bin/sh
# Makes sure the Debian packages a make target needs are installed.
# Usage: tools/deps.sh GROUP...   (groups: build, test, package, pictures, bench, fuzz)
# As root, missing packages are installed with apt-get; otherwise they are listed and the script
# fails, so the caller knows what to ask an administrator for.
set -eu

packages_for() {
  case "$1" in
    build) echo "cmake make g++ libpng-dev libarchive-dev" ;;
    test) echo "cmake make g++ libpng-dev libarchive-dev googletest libgtest-dev g++-mingw-w64-x86-64-posix wine64 xvfb xauth xdotool cc1541 cbmconvert zip wixl msitools dpkg-dev shared-mime-info" ;;
    package) echo "wixl msitools zip dpkg-dev" ;;
    pictures) echo "imagemagick cc1541 xvfb xauth wine64" ;;
    bench) echo "cmake make g++ libpng-dev libarchive-dev libbenchmark-dev" ;;
    fuzz) echo "cmake make clang libclang-rt-14-dev libarchive-dev zip" ;;
    *) echo "tools/deps.sh: unknown group '$1'" >&2; exit 2 ;;
  esac
}

wanted=""
for group in "$@"; do wanted="$wanted $(packages_for "$group")"; done

missing=""
for package in $wanted; do
  case " $missing " in *" $package "*) continue ;; esac
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $package" ;;
  esac
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing Debian packages:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  # shellcheck disable=SC2086
  apt-get install -y -q --no-install-recommends $missing
else
  echo "Missing Debian packages:$missing" >&2
  echo "Install them as root: apt-get install$missing" >&2
  exit 1
fi
