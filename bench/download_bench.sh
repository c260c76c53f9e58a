#!/usr/bin/env bash
# Downloading and verifying a 1 GiB file with morlaken-sync, against `curl -o` of the same
# file into the same folder, both from nginx on 127.0.0.1 in this run.
# Prints the speed ratio sync/curl (aim: >= 0.6). Data is cached under
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
if [ ! -f "$site/big.bin" ] || [ "$(stat -c %s "$site/big.bin")" -ne 1073741824 ]; then
  mkdir -p "$site"
  echo "making 1 GiB of test data in $site (once)"
  openssl enc -aes-128-ctr -pass pass:morlaken -nosalt -pbkdf2 -in /dev/zero 2>/dev/null |
    head -c 1073741824 > "$site/big.bin" || true  # openssl ends on SIGPIPE once head has enough
  rm -f "$site/dosyalar.txt"
fi
[ -f "$site/dosyalar.txt" ] || "$publish_tool" "$site" --version bench > /dev/null

# ---- nginx on a free loopback port, timing helpers ----
. bench/common/nginx.sh
start_nginx "$site"
url=http://127.0.0.1:$port/

# ---- runs (alternating, best of $runs) ----
curl_times=(); sync_times=()
for i in $(seq "$runs"); do
  rm -rf "$work/game"; mkdir -p "$work/game"
  curl_times+=("$(seconds curl -s -f -o "$work/game/big.bin" "$url/big.bin")")
  rm -rf "$work/game"; mkdir -p "$work/game"
  sync_times+=("$(seconds "$sync_tool" "$work/game" "$url")")
  cmp -s "$work/game/big.bin" "$site/big.bin" || { echo "morlaken-sync result differs" >&2; exit 1; }
done
rm -rf "$work/game"
tc=$(best "${curl_times[@]}"); ts=$(best "${sync_times[@]}")
printf 'curl -o         1 GiB: %6.2f s  (%7.1f MiB/s)\n' "$tc" "$(echo "1024 / $tc" | bc -l)"
printf 'morlaken-sync   1 GiB: %6.2f s  (%7.1f MiB/s, verified while it arrives)\n' "$ts" "$(echo "1024 / $ts" | bc -l)"
printf 'speed ratio sync/curl: %.2f (aim >= 0.6)\n' "$(echo "$tc / $ts" | bc -l)"
