#!/usr/bin/env bash
# Builds the README's example against the library installed into a fresh
# prefix, once with pkg-config and once with find_package, and runs both.
set -euo pipefail
src=$1 build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
block() { sed -n "/^\`\`\`$1\$/,/^\`\`\`\$/p" "$src/README.md" | sed '1d;$d'; }
mkdir "$tmp/hello"
block c >"$tmp/hello/hello.c"
block cmake >"$tmp/hello/CMakeLists.txt"

PKG_CONFIG_PATH=$tmp/prefix/lib/pkgconfig
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
cc -Wall -Werror "$tmp/hello/hello.c" $(pkg-config --cflags --libs askline) \
  -Wl,-rpath,"$tmp/prefix/lib" -o "$tmp/hello-pc"
cmake -S "$tmp/hello" -B "$tmp/out" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/out" >/dev/null

for program in "$tmp/hello-pc" "$tmp/out/hello"; do
  got=$(printf 'Ada\n' | "$program")
  [ "$got" = "name: hello, Ada" ] || { echo "$program printed: $got"; exit 1; }
done
echo "the README's example builds and runs with pkg-config and with find_package"
