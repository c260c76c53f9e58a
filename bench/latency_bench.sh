#!/usr/bin/env bash
# Update passes over HTTPS on a link with latency: nginx on 127.0.0.1 behind
# bench/latency_proxy.py, which holds every chunk for half the round trip each way.
#   1. 2,000 files of 16 KiB at RTT_MS (default 20) ms: morlaken-sync against one curl
#      invocation fetching the same URLs (curl keeps its connection). Aim: >= 0.9 of curl.
#   2. one 256 MiB file on a line of RATE_MBIT (default 100) Mbit/s, where the download and not
#      the hash bounds the time, as it does for players: morlaken-sync killed at 80 % and run
#      again (it continues from the bytes on disk) against downloading the whole file again.
#      Aim: >= 3 times faster.
# Data is cached under ${TMPDIR:-/tmp}/morlaken-bench; binaries from ${MORLAKEN_BIN:-build/bin}.
# Times are medians of BENCH_RUNS (default 5) runs; LATENCY_PART=small or big runs one part.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${MORLAKEN_BIN:-build/bin}
data=${TMPDIR:-/tmp}/morlaken-bench
runs=${BENCH_RUNS:-5}
part=${LATENCY_PART:-all}
rtt=${RTT_MS:-20}
rate=${RATE_MBIT:-100}
sync_tool=$(realpath "$bin/morlaken-sync")
publish_tool=$(realpath "$bin/morlaken-publish")
cert=$(realpath tests/data/tls/cert.pem)
key=$(realpath tests/data/tls/key.pem)
export SSL_CERT_FILE=$cert

# ---- data ----
small=$data/latency/small
if [ ! -f "$small/dosyalar.txt" ]; then
  mkdir -p "$small/veri"
  echo "making 2,000 files of 16 KiB in $small (once)"
  for i in $(seq 2000); do head -c 16384 /dev/urandom > "$small/veri/p$i.bin"; done
  "$publish_tool" "$small" --version bench > /dev/null
fi
big=$data/latency/big
big_bytes=268435456
if [ ! -f "$big/dosyalar.txt" ]; then
  mkdir -p "$big"
  echo "making 256 MiB of test data in $big (once)"
  head -c "$big_bytes" /dev/urandom > "$big/big.bin"
  "$publish_tool" "$big" --version bench > /dev/null
fi

# ---- nginx over https, the proxy in front of it ----
. bench/common/nginx.sh
proxy_pid=
stop_proxy() { if [ -n "$proxy_pid" ]; then kill -TERM "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; proxy_pid=; fi; }
trap 'stop_proxy; cleanup' EXIT
start_proxy() { # target port [Mbit/s] -> proxy_port
  proxy_port=$(free_port)
  python3 bench/latency_proxy.py "$proxy_port" "$1" "$rtt" 1800 "${2:-0}" > "$work/proxy.out" 2> /dev/null &
  proxy_pid=$!
  for _ in $(seq 100); do grep -q ready "$work/proxy.out" 2>/dev/null && return 0; sleep 0.05; done
  echo "proxy did not start" >&2; exit 1
}

# ---- 1. many small files ----
if [ "$part" != big ]; then
start_nginx "$small" "$cert" "$key"
start_proxy "$port"
url=https://127.0.0.1:$proxy_port/
curl_config=$work/curl.cfg
: > "$curl_config"
while read -r hash size path; do
  case "$hash" in morlaken-liste|surum|'#'*) continue ;; esac
  printf 'url = "%s%s"\noutput = "%s/curl/%s"\n' "$url" "$path" "$work" "$path" >> "$curl_config"
done < <(tail -n +2 "$small/dosyalar.txt")
curl_times=(); sync_times=()
for i in $(seq "$runs"); do
  rm -rf "$work/curl"; mkdir -p "$work/curl"
  curl_times+=("$(seconds curl -s -f --cacert "$cert" --create-dirs -K "$curl_config" "${url}dosyalar.txt" -o "$work/curl/dosyalar.txt")")
  diff -rq "$work/curl/veri" "$small/veri" > /dev/null || { echo "curl result differs" >&2; exit 1; }
  rm -rf "$work/game"; mkdir -p "$work/game"
  sync_times+=("$(seconds "$sync_tool" "$work/game" "$url")")
  diff -rq "$work/game/veri" "$small/veri" > /dev/null || { echo "morlaken-sync result differs" >&2; exit 1; }
done
tc=$(median "${curl_times[@]}"); ts=$(median "${sync_times[@]}")
printf 'RTT %d ms, https, 2000 x 16 KiB, median of %d runs\n' "$rtt" "$runs"
printf '  curl (one invocation)  %6.2f s\n  morlaken-sync          %6.2f s\n' "$tc" "$ts"
printf '  speed ratio sync/curl: %.2f (aim >= 0.9)\n' "$(echo "$tc / $ts" | bc -l)"
stop_proxy; stop_nginx
fi

# ---- 2. resuming 256 MiB ----
if [ "$part" != small ]; then
start_nginx "$big" "$cert" "$key"
start_proxy "$port" "$rate"
url=https://127.0.0.1:$proxy_port/
cut=$((big_bytes * 4 / 5))
interrupt() { # kill -9 morlaken-sync once 80 % is on disk; the .indir is cut to exactly 80 %
  rm -rf "$work/game"; mkdir -p "$work/game"
  "$sync_tool" "$work/game" "$url" > /dev/null 2>&1 &
  local pid=$!
  while [ "$(stat -c %s "$work/game/big.bin.indir" 2>/dev/null || echo 0)" -lt "$cut" ]; do
    kill -0 "$pid" 2>/dev/null || { echo "morlaken-sync ended before 80 %" >&2; exit 1; }
    sleep 0.01
  done
  kill -KILL "$pid"; wait "$pid" 2>/dev/null || true
  truncate -s "$cut" "$work/game/big.bin.indir"
}
resume_times=(); again_times=()
for i in $(seq "$runs"); do
  interrupt
  resume_times+=("$(seconds "$sync_tool" "$work/game" "$url")")
  cmp -s "$work/game/big.bin" "$big/big.bin" || { echo "resumed file differs" >&2; exit 1; }
  rm -rf "$work/game"; mkdir -p "$work/game"
  again_times+=("$(seconds "$sync_tool" "$work/game" "$url")")
  cmp -s "$work/game/big.bin" "$big/big.bin" || { echo "downloaded file differs" >&2; exit 1; }
done
tr=$(median "${resume_times[@]}"); ta=$(median "${again_times[@]}")
printf 'RTT %d ms, %d Mbit/s, https, 256 MiB interrupted at 80 %%, median of %d runs\n' "$rtt" "$rate" "$runs"
printf '  downloaded again       %6.2f s\n  resumed                %6.2f s\n' "$ta" "$tr"
printf '  speed ratio again/resumed: %.2f (aim >= 3)\n' "$(echo "$ta / $tr" | bc -l)"
fi
