#!/usr/bin/env bash
# A patch day: a 1 GiB archive of which 1 % changed in 20 places, with 100 KiB inserted near
# the start and 100 KiB removed near the end, served by nginx (which answers single ranges)
# behind bench/latency_proxy.py at RTT_MS (default 20) ms and RATE_MBIT (default 100)
# Mbit/s, a player's line:
#   patch - morlaken-sync in a folder that holds the old version (with its update cache, as
#           a player's folder has): it fetches the index and the missing chunks as ranges
#   full  - morlaken-sync in an empty folder: the whole file, what every player paid before
# Prints the bytes each fetched (list and index included) and its pass time, and the two as
# ratios patch/full. Aim: bytes at most 0.03, time at most 0.1.
# Data is cached under ${TMPDIR:-/tmp}/morlaken-bench; binaries from ${MORLAKEN_BIN:-build/bin}.
# BENCH_RUNS (default 3) patch runs, median; one full run (some 90 s at 100 Mbit/s).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${MORLAKEN_BIN:-build/bin}
data=${TMPDIR:-/tmp}/morlaken-bench/patch
runs=${BENCH_RUNS:-3}
rtt=${RTT_MS:-20}
rate=${RATE_MBIT:-100}
sync_tool=$(realpath "$bin/morlaken-sync")
publish_tool=$(realpath "$bin/morlaken-publish")

# ---- data: the old version and the published new one ----
old=$data/old/arsiv.pak
site=$data/site
if [ ! -f "$site/dosyalar.txt" ]; then
  echo "making 1 GiB of test data and its patched version in $data (once)"
  rm -rf "$data"; mkdir -p "$data/old" "$site"
  openssl enc -aes-128-ctr -pass pass:morlaken -nosalt -pbkdf2 -in /dev/zero 2>/dev/null |
    head -c 1073741824 > "$old" || true
  python3 - "$old" "$site/arsiv.pak" <<'PY'
import os, sys
data = bytearray(open(sys.argv[1], "rb").read())
size = len(data)
region = size // 100 // 20                 # 20 regions, 1 % of the file in all
for i in range(20):
    at = (2 * i + 1) * size // 41
    data[at:at + region] = os.urandom(region)
data[1 << 20:1 << 20] = os.urandom(100 << 10)          # inserted near the start
del data[size - (3 << 20):size - (3 << 20) + (100 << 10)]  # removed near the end
open(sys.argv[2], "wb").write(data)
PY
  "$publish_tool" "$site" --version bench > /dev/null
fi
list_bytes=$(stat -c %s "$site/dosyalar.txt")

# ---- nginx, the proxy in front of it ----
. bench/common/nginx.sh
proxy_pid=
stop_proxy() { if [ -n "$proxy_pid" ]; then kill -TERM "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; proxy_pid=; fi; }
trap 'stop_proxy; cleanup' EXIT
start_nginx "$site"
proxy_port=$(free_port)
python3 bench/latency_proxy.py "$proxy_port" "$port" "$rtt" 3000 "$rate" > "$work/proxy.out" 2> /dev/null &
proxy_pid=$!
for _ in $(seq 100); do grep -q ready "$work/proxy.out" 2>/dev/null && break; sleep 0.05; done
url=http://127.0.0.1:$proxy_port/

# One pass in $work/game: its time in seconds and the bytes it fetched (its summary line
# counts file bytes, ranges and indexes; the list is added).
pass() {
  local start end out
  start=$(date +%s.%N)
  out=$("$sync_tool" "$work/game" "$url")
  end=$(date +%s.%N)
  cmp -s "$work/game/arsiv.pak" "$site/arsiv.pak" || { echo "the pass left another file" >&2; exit 1; }
  echo "$(echo "$end - $start" | bc -l) $(( $(sed -n 's/.*indirildi, \([0-9]*\) bayt.*/\1/p' <<< "$out") + list_bytes ))"
}
# The old version in place with an update cache that vouches for it, as a player has it.
old_folder() {
  rm -rf "$work/game"; mkdir -p "$work/game"
  cp "$old" "$work/game/arsiv.pak"
  python3 - "$work/game" "$old" <<'PY'
import hashlib, os, sys
folder, old = sys.argv[1], sys.argv[2]
path = os.path.join(folder, "arsiv.pak")
st = os.stat(path)
ticks = st.st_mtime_ns // 100 + 116444736000000000
h = hashlib.sha256()
with open(old, "rb") as f:
    for block in iter(lambda: f.read(1 << 20), b""):
        h.update(block)
open(os.path.join(folder, "guncelleme.cache"), "w").write("%d %d %s arsiv.pak\n" % (st.st_size, ticks, h.hexdigest()))
PY
}

patch_times=(); patch_bytes=0
for i in $(seq "$runs"); do
  old_folder
  read -r t b < <(pass)
  patch_times+=("$t"); patch_bytes=$b
done
rm -rf "$work/game"; mkdir -p "$work/game"
read -r full_time full_bytes < <(pass)
tp=$(median "${patch_times[@]}")
printf '1 GiB archive, 1%% changed in 20 places + 100 KiB inserted + 100 KiB removed; RTT %d ms, %d Mbit/s\n' "$rtt" "$rate"
printf '  patch (old version in place)  %8.2f s  %11d bytes (median of %d)\n' "$tp" "$patch_bytes" "$runs"
printf '  full download                 %8.2f s  %11d bytes\n' "$full_time" "$full_bytes"
printf '  bytes patch/full: %.4f (aim <= 0.03)   time patch/full: %.3f (aim <= 0.1)\n' \
  "$(echo "$patch_bytes / $full_bytes" | bc -l)" "$(echo "$tp / $full_time" | bc -l)"
