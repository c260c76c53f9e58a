#!/usr/bin/env bash
# The window during a pass: the main screen's frames while the launcher's own update pass
# downloads 1 GiB from nginx on 127.0.0.1, against the same frames idle, measured in one
# run by bench_startup_bench --download (aim: at most 1.5 times the idle time per frame, and
# the progress line moving every frame). Data is shared with download_bench.sh under
# ${TMPDIR:-/tmp}/morlaken-bench; binaries come from ${MORLAKEN_BIN:-build/bin}.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${MORLAKEN_BIN:-build/bin}
data=${TMPDIR:-/tmp}/morlaken-bench
publish_tool=$(realpath "$bin/morlaken-publish")

site=$data/download/site
. bench/common/gib_site.sh
make_gib_site "$site" "$publish_tool"

. bench/common/nginx.sh
start_nginx "$site"
"$bin/bench_startup_bench" --download "http://127.0.0.1:$port/"
