#!/usr/bin/env bash
# The reader's CPU and memory while Prometheus-style clients scrape
# --metrics 10 times a second: 4 simulated meters read every second, for
# SECONDS (default 60). Prints the reader's CPU share and its RSS at the
# start and the end of the scraping, after as long without scraping.
# Usage: bench/metrics_scrape_load.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
scratch=$(mktemp -d)
trap 'kill $sim $reader 2>/dev/null || true; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch

"$build/tools/zlm_meter_sim/zlm-meter-sim" --address 1 --address 2 --address 3 --address 4 \
  --log /dev/null >"$scratch/sim.out" 2>&1 &
sim=$!
until [[ -s $scratch/sim.out ]]; do sleep 0.1; done
com=$(head -1 "$scratch/sim.out" | cut -d' ' -f1)
"$build/tools/zlm_read/zlm-read" --port "$com" --address 1,2,3,4 --interval 1 --format csv \
  --metrics 127.0.0.1:0 >/dev/null 2>"$scratch/reader.err" &
reader=$!
until grep -q 'metrics at' "$scratch/reader.err"; do sleep 0.1; done
url=$(grep -o 'http://[^ ]*' "$scratch/reader.err")

ticks() { awk '{print $14 + $15}' "/proc/$reader/stat"; }
rss() { awk '/VmRSS/ {print $2}' "/proc/$reader/status"; }
hz=$(getconf CLK_TCK)
sleep 3  # a few cycles first, so every series exists
# The same time without scraping, for comparison.
b0=$(ticks)
sleep "$seconds"
echo "reader CPU without scraping: $(echo "scale=2; 100 * ($(ticks) - $b0) / $hz / $seconds" | bc) % of a core"
rss0=$(rss)
t0=$(ticks)
start=$(date +%s.%N)
# One curl, paced by itself (a new connection for each scrape, as
# Prometheus opens them after an idle timeout).
scrapes=$((seconds * 10))
curl -sf --rate 10/s -o /dev/null -w '%{size_download}\n' "$url?scrape=[1-$scrapes]" >"$scratch/sizes"
bytes=$(tail -1 "$scratch/sizes")
scrapes=$(grep -c . "$scratch/sizes")
elapsed=$(echo "$(date +%s.%N) - $start" | bc)
t1=$(ticks)
echo "scrapes: $scrapes in ${elapsed%.*} s ($(echo "scale=1; $scrapes / $elapsed" | bc)/s), $bytes bytes each"
echo "reader CPU: $(echo "scale=2; 100 * ($t1 - $t0) / $hz / $elapsed" | bc) % of a core (reading 4 meters every second included)"
echo "reader RSS: ${rss0} kB before, $(rss) kB after; fds: $(ls /proc/$reader/fd | wc -l)"
