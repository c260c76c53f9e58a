#!/usr/bin/env bash
# Update passes over folders that are already up to date, with nginx on 127.0.0.1:
#  1. 20 000 unchanged files with a warm update cache, against a plain stat walk
#     (`find -printf` of size, time and path): aim at most 3x as long.
#  2. A first pass with no cache over 1 GiB of matching files (every byte hashed), against
#     `openssl dgst -sha256` of the same files: aim >= 0.9 of its speed.
# Data is cached under ${TMPDIR:-/tmp}/morlaken-bench; binaries from ${MORLAKEN_BIN:-build/bin}.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${MORLAKEN_BIN:-build/bin}
data=${TMPDIR:-/tmp}/morlaken-bench
runs=${BENCH_RUNS:-3}
sync_tool=$(realpath "$bin/morlaken-sync")
publish_tool=$(realpath "$bin/morlaken-publish")

# ---- data ----
many=$data/pass/many   # 20 000 small files in 200 folders, published
if [ ! -f "$many/dosyalar.txt" ]; then
  echo "making 20 000 files in $many (once)"
  rm -rf "$many"; mkdir -p "$many"
  for d in $(seq -w 0 199); do
    mkdir -p "$many/d$d"
    for f in $(seq -w 0 99); do printf 'file %s/%s\n' "$d" "$f" > "$many/d$d/f$f.dat"; done
  done
  "$publish_tool" "$many" --version bench > /dev/null
fi
large=$data/pass/large # 1 GiB in four files, published
if [ ! -f "$large/dosyalar.txt" ]; then
  echo "making 1 GiB of test data in $large (once)"
  rm -rf "$large"; mkdir -p "$large"
  for i in 1 2 3 4; do
    openssl enc -aes-128-ctr -pass pass:morlaken$i -nosalt -pbkdf2 -in /dev/zero 2>/dev/null |
      head -c 268435456 > "$large/part$i.bin" || true  # openssl ends on SIGPIPE once head has enough
  done
  "$publish_tool" "$large" --version bench > /dev/null
fi

# ---- nginx on a free loopback port, timing helpers ----
. bench/common/nginx.sh
sync_ok() { "$sync_tool" "$@" > /dev/null || { echo "morlaken-sync failed" >&2; exit 1; }; }

# ---- 1. warm cache over 20 000 unchanged files ----
start_nginx "$many"
game=$work/many
cp -a "$many" "$game"          # same content, so nothing is downloaded
sync_ok "$game" "http://127.0.0.1:$port/"   # builds the cache (hashes everything once)
find_times=(); sync_times=()
for i in $(seq "$runs"); do
  find_times+=("$(seconds find "$game" -type f -printf '%s %T@ %p\n')")
  sync_times+=("$(seconds sync_ok "$game" "http://127.0.0.1:$port/")")
done
tf=$(best "${find_times[@]}"); ts=$(best "${sync_times[@]}")
printf 'find -printf      20000 files: %7.3f s\n' "$tf"
printf 'morlaken-sync     20000 files: %7.3f s  (warm cache, list fetched from nginx)\n' "$ts"
printf 'time ratio sync/find: %.2f (aim <= 3)\n' "$(echo "$ts / $tf" | bc -l)"
stop_nginx

# ---- 2. first pass without cache over 1 GiB of matching files ----
start_nginx "$large"
game=$work/large
mkdir -p "$game"
for f in "$large"/part*.bin; do ln "$f" "$game/" 2>/dev/null || cp "$f" "$game/"; done
cat "$game"/part*.bin > /dev/null  # both sides read from the page cache
openssl_times=(); sync_times=()
for i in $(seq "$runs"); do
  openssl_times+=("$(seconds openssl dgst -sha256 "$game"/part1.bin "$game"/part2.bin "$game"/part3.bin "$game"/part4.bin)")
  rm -f "$game/guncelleme.cache"
  sync_times+=("$(seconds sync_ok "$game" "http://127.0.0.1:$port/")")
done
to=$(best "${openssl_times[@]}"); ts=$(best "${sync_times[@]}")
printf 'openssl dgst -sha256  1 GiB: %6.2f s  (%7.1f MiB/s)\n' "$to" "$(echo "1024 / $to" | bc -l)"
printf 'morlaken-sync no cache 1 GiB: %6.2f s  (%7.1f MiB/s)\n' "$ts" "$(echo "1024 / $ts" | bc -l)"
printf 'speed ratio sync/openssl: %.2f (aim >= 0.9)\n' "$(echo "$to / $ts" | bc -l)"
