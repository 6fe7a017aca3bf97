#!/usr/bin/env bash
# The shared objects each program and the prompt library load: the programs
# exactly the prompt library, libm, libcrypt and libc; the library libc alone.
set -euo pipefail
bin=$1 lib=$2
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' '; }
status=0
for p in "$bin"/*; do
  got=$(needed "$p")
  [ "$got" = "libaskline.so.11 libm.so.6 libcrypt.so.1 libc.so.6 " ] || { echo "$p needs $got"; status=1; }
done
got=$(needed "$lib")
[ "$got" = "libc.so.6 " ] || { echo "$lib needs $got"; status=1; }
exit $status
