#!/bin/sh
# Prints Kelvane's version: the one in the top CMakeLists.txt's project(), the only place it is set.
here=$(cd "$(dirname "$0")/.." && pwd)
sed -n 's/^project(kelvane VERSION \([0-9][0-9.]*\).*/\1/p' "$here/CMakeLists.txt"
