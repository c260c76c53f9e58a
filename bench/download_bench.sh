#!/usr/bin/env bash
# Downloading and verifying a 1 GiB file with morlaken-sync, from nginx on 127.0.0.1, against
# what a careful user would run for the same guarantee: `curl -o F && openssl dgst -sha256 F
# && sync -f F` (the file fetched, its hash checked, its bytes on the disk: morlaken-sync
# hashes every byte and flushes the file before it renames it into place). `curl -o` alone,
# which only writes into the page cache, is reported beside it.
# Prints the speed ratios (aim: >= 1.6 against the careful chain). Data is cached under
# ${TMPDIR:-/tmp}/morlaken-bench; binaries come from ${MORLAKEN_BIN:-build/bin}.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${MORLAKEN_BIN:-build/bin}
data=${TMPDIR:-/tmp}/morlaken-bench
runs=${BENCH_RUNS:-3}
sync_tool=$(realpath "$bin/morlaken-sync")
publish_tool=$(realpath "$bin/morlaken-publish")
cert=$(realpath tests/data/tls/cert.pem)
key=$(realpath tests/data/tls/key.pem)

# ---- data ----
site=$data/download/site
. bench/common/gib_site.sh
make_gib_site "$site" "$publish_tool"

# ---- nginx on a free loopback port, timing helpers ----
. bench/common/nginx.sh
start_nginx "$site"
url=http://127.0.0.1:$port/

# ---- runs (alternating, best of $runs) ----
careful() { curl -s -f -o "$1" "$2" && openssl dgst -sha256 "$1" && sync -f "$1"; }
curl_times=(); careful_times=(); sync_times=()
for i in $(seq "$runs"); do
  rm -rf "$work/game"; mkdir -p "$work/game"; sync -f "$work"
  curl_times+=("$(seconds curl -s -f -o "$work/game/big.bin" "$url/big.bin")")
  rm -rf "$work/game"; mkdir -p "$work/game"; sync -f "$work"
  careful_times+=("$(seconds careful "$work/game/big.bin" "$url/big.bin")")
  rm -rf "$work/game"; mkdir -p "$work/game"; sync -f "$work"
  sync_times+=("$(seconds "$sync_tool" "$work/game" "$url")")
  cmp -s "$work/game/big.bin" "$site/big.bin" || { echo "morlaken-sync result differs" >&2; exit 1; }
done
rm -rf "$work/game"
tc=$(best "${curl_times[@]}"); tk=$(best "${careful_times[@]}"); ts=$(best "${sync_times[@]}")
printf 'curl -o                              1 GiB: %6.2f s  (%7.1f MiB/s)\n' "$tc" "$(echo "1024 / $tc" | bc -l)"
printf 'curl -o && openssl dgst && sync -f   1 GiB: %6.2f s  (%7.1f MiB/s)\n' "$tk" "$(echo "1024 / $tk" | bc -l)"
printf 'morlaken-sync                        1 GiB: %6.2f s  (%7.1f MiB/s, verified and on disk)\n' "$ts" "$(echo "1024 / $ts" | bc -l)"
printf 'speed ratio sync/careful chain: %.2f (aim >= 1.6); sync/curl -o: %.2f\n' "$(echo "$tk / $ts" | bc -l)" "$(echo "$tc / $ts" | bc -l)"
