#!/usr/bin/env bash
# Builds, writes the synthetic registers once, and benchmarks the main window on each.
# Run as root for the cold start: it empties the page cache first (else says it could not).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null && cmake --build --preset default >/dev/null
for n in ${*:-10000 100000 1000000}; do
  folder=build/bench-data/$n
  if [ ! -f "$folder/base/vorlend.mdb" ]; then
    mkdir -p "$folder/base"
    QT_QPA_PLATFORM=offscreen build/tools/tarvik-mkdb --synthetic "$n" "$folder/base/vorlend.mdb"
  fi
  echo "== $n parts"
  build/bench/bench_mainwindow "$folder"
  if [ "$n" = 1000000 ]; then
    build/bench/bench_partdialogs "$folder"
  fi
  # The quick search in detail (copies the register: it writes); the largest register only.
  if [ "$n" -ge 1000000 ]; then build/bench/bench_search "$folder"; fi
done

# The same window on a PostgreSQL server beside the file, on the largest register: the server
# TARVIK_TEST_PG_TCP or TARVIK_TEST_PG names, else a throw-away one on TCP loopback.
largest=$(printf '%s\n' ${*:-10000 100000 1000000} | sort -n | tail -1)
folder=build/bench-data/$largest
echo "== $largest parts, file and server"
if [ -n "${TARVIK_TEST_PG_TCP:-}${TARVIK_TEST_PG:-}" ]; then
  build/bench/bench_server "$folder"
elif ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || command -v initdb >/dev/null; then
  tools/pg-test-cluster.sh --tcp -- build/bench/bench_server "$folder"
else
  echo "bench_server skipped: no PostgreSQL server (tools/install-deps.sh installs one)"
fi
