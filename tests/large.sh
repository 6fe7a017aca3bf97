#!/usr/bin/env bash
# Input larger than INT_MAX bytes: a 2.2 GiB line through try, dupchars and
# dupstr, and a 3 GB file through fileclone. Prints each run's time and peak
# memory (GNU time's maximum resident set size).
set -euo pipefail
bin=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

n=$((2200 * 1024 * 1024))  # 2,306,867,200 bytes: "abc " over and over
# yes and tr end on a broken pipe when head has enough.
line() { yes 'abc ' | tr -d '\n' | head -c "$n" || true; }
measure() {  # name, size: the figures GNU time wrote
  read -r secs kib <"$tmp/time"
  printf '%-9s %14s bytes  %6s s  peak %5d MiB\n' "$1" "$2" "$secs" $((kib / 1024))
}

out=$(line | /usr/bin/time -f '%e %M' -o "$tmp/time" "$bin/try")
[ "$out" = "Text: $((n / 4 + 1))" ] || { echo "try printed: $out"; exit 1; }
measure try "$n"

want=$({ printf 'a: '; line; echo; line; echo; } | sha256sum)
for p in dupstr dupchars; do
  got=$({ line; echo; } | /usr/bin/time -f '%e %M' -o "$tmp/time" "$bin/$p" | sha256sum)
  [ "$got" = "$want" ] || { echo "$p did not give the line back whole"; exit 1; }
  measure "$p" "$n"
done

size=3000000000
head -c "$size" /dev/urandom >"$tmp/src"
/usr/bin/time -f '%e %M' -o "$tmp/time" "$bin/fileclone" "$tmp/src" "$tmp/dst"
cmp "$tmp/src" "$tmp/dst"
measure fileclone "$size"
