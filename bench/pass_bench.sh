#!/usr/bin/env bash
# Update passes over folders that are already up to date, with the list from nginx on
# 127.0.0.1:
#  1. The check of an unchanged folder with a warm update cache, 20,000 files and 200,000
#     files (a big game's folder), against a walk that stats every file (`find -printf` of
#     size, time and path): aim at most 1.5 times as long. For the 200,000 files also the
#     memory the check takes: the peak resident size of morlaken-sync over that of a check of
#     a folder of one file, per listed file (aim at most 300 bytes).
#  2. The first verification (no cache) of 1 GiB of matching files, as 64 files of 16 MiB and
#     as 4,000 files of 256 KiB, against one `openssl dgst -sha256` process hashing the same
#     files: aim at least 1.7 times as fast (the pass hashes on every core).
# Data is cached under ${TMPDIR:-/tmp}/morlaken-bench; binaries from ${MORLAKEN_BIN:-build/bin}.
# PASS_PART=check or verify runs one part.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${MORLAKEN_BIN:-build/bin}
data=${TMPDIR:-/tmp}/morlaken-bench
runs=${BENCH_RUNS:-3}
part=${PASS_PART:-all}
sync_tool=$(realpath "$bin/morlaken-sync")
publish_tool=$(realpath "$bin/morlaken-publish")

# ---- data ----
# make_small_files FOLDER FOLDERS FILES_PER_FOLDER: small distinct files, published (once).
make_small_files() {
  [ -f "$1/dosyalar.txt" ] && return 0
  echo "making $(($2 * $3)) files in $1 (once)"
  rm -rf "$1"
  python3 - "$1" "$2" "$3" <<'PY'
import os, sys
root, folders, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for d in range(folders):
    folder = os.path.join(root, "d%04d" % d)
    os.makedirs(folder)
    for f in range(files):
        with open(os.path.join(folder, "f%03d.dat" % f), "w") as out:
            out.write("file %d/%d\n" % (d, f))
PY
  "$publish_tool" "$1" --version bench > /dev/null
}
# make_random_files FOLDER COUNT BYTES: COUNT files of BYTES pseudo-random bytes, published.
make_random_files() {
  [ -f "$1/dosyalar.txt" ] && return 0
  echo "making $2 files of $3 bytes in $1 (once)"
  rm -rf "$1"; mkdir -p "$1"
  openssl enc -aes-128-ctr -pass pass:morlaken -nosalt -pbkdf2 -in /dev/zero 2>/dev/null |
    head -c $(($2 * $3)) | split -a 4 -d -b "$3" - "$1/part" || true
  "$publish_tool" "$1" --version bench > /dev/null
}

# ---- nginx on a free loopback port, timing helpers ----
. bench/common/nginx.sh
sync_ok() { "$sync_tool" "$@" > /dev/null || { echo "morlaken-sync failed" >&2; exit 1; }; }
# Peak resident size in KiB of a command (its own, not the shell's).
peak_kib() {
  python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
}

# check_unchanged SITE FILES: the warm check of a copy of SITE, against find.
check_unchanged() {
  start_nginx "$1"
  local game=$work/game-$2
  rm -rf "$game"; cp -a "$1" "$game"   # same content, so nothing is downloaded
  sync_ok "$game" "http://127.0.0.1:$port/"   # builds the cache (hashes everything once)
  local find_times=() sync_times=()
  for i in $(seq "$runs"); do
    find_times+=("$(seconds find "$game" -type f -printf '%s %T@ %p\n')")
    sync_times+=("$(seconds sync_ok "$game" "http://127.0.0.1:$port/")")
  done
  local tf ts
  tf=$(best "${find_times[@]}"); ts=$(best "${sync_times[@]}")
  printf 'find -printf      %7d files: %7.3f s\n' "$2" "$tf"
  printf 'morlaken-sync     %7d files: %7.3f s  (warm cache, list fetched from nginx)\n' "$2" "$ts"
  printf 'time ratio sync/find, %d files: %.2f (aim <= 1.5)\n' "$2" "$(echo "$ts / $tf" | bc -l)"
  if [ "$2" -ge 100000 ]; then
    local one=$work/one
    rm -rf "$one"; mkdir -p "$one"
    local peak base
    peak=$(peak_kib "$sync_tool" "$game" "http://127.0.0.1:$port/")
    stop_nginx
    make_small_files "$data/pass/one" 1 1   # served from the data folder: nginx's workers may not enter $work
    start_nginx "$data/pass/one"
    sync_ok "$one" "http://127.0.0.1:$port/"
    base=$(peak_kib "$sync_tool" "$one" "http://127.0.0.1:$port/")
    printf 'peak resident: %d KiB for %d files, %d KiB for one file: %.0f bytes per file (aim <= 300)\n' \
      "$peak" "$2" "$base" "$(echo "($peak - $base) * 1024 / $2" | bc -l)"
  fi
  stop_nginx
  rm -rf "$game"
}

# first_verification SITE LABEL: a pass with no cache over matching files, against openssl.
first_verification() {
  start_nginx "$1"
  local game=$work/verify
  rm -rf "$game"; mkdir -p "$game"
  for f in "$1"/part*; do ln "$f" "$game/" 2>/dev/null || cp "$f" "$game/"; done
  cat "$game"/part* > /dev/null  # both sides read from the page cache
  local openssl_times=() sync_times=()
  for i in $(seq "$runs"); do
    openssl_times+=("$(seconds openssl dgst -sha256 "$game"/part*)")
    rm -f "$game/guncelleme.cache"
    sync_times+=("$(seconds sync_ok "$game" "http://127.0.0.1:$port/")")
  done
  local to ts
  to=$(best "${openssl_times[@]}"); ts=$(best "${sync_times[@]}")
  printf 'openssl dgst -sha256   %s: %6.2f s  (%7.1f MiB/s)\n' "$2" "$to" "$(echo "1024 / $to" | bc -l)"
  printf 'morlaken-sync no cache %s: %6.2f s  (%7.1f MiB/s)\n' "$2" "$ts" "$(echo "1024 / $ts" | bc -l)"
  printf 'speed ratio sync/openssl, %s: %.2f (aim >= 1.7)\n' "$2" "$(echo "$to / $ts" | bc -l)"
  stop_nginx
  rm -rf "$game"
}

if [ "$part" != verify ]; then
  make_small_files "$data/pass/many" 200 100
  make_small_files "$data/pass/huge" 2000 100
  check_unchanged "$data/pass/many" 20000
  check_unchanged "$data/pass/huge" 200000
fi
if [ "$part" != check ]; then
  make_random_files "$data/pass/sixteen" 64 16777216
  make_random_files "$data/pass/quarter" 4000 262144
  first_verification "$data/pass/sixteen" "64 x 16 MiB"
  first_verification "$data/pass/quarter" "4000 x 256 KiB"
fi
