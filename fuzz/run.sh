#!/usr/bin/env bash
# Builds the reader's fuzz target with clang and runs it for a bounded time from the seed
# corpus. Usage: run.sh BUILD_DIR [SECONDS]. New inputs go to BUILD_DIR/work, never to corpus/.
set -euo pipefail
src=$(cd "$(dirname "$0")" && pwd)
build=${1:?build directory}
seconds=${2:-60}
cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
mkdir -p "$build/work"
cd "$build"
# The memory limit is far below the 4 GB a lying length could declare. Inputs stay under 1 KiB,
# room for a few full-width records: a run's cost grows with its input, and longer registers
# reach nothing new. One worker; for a long run outside CI: nice run.sh BUILD_DIR 900.
exec ./fuzz_dataformat -max_total_time="$seconds" -max_len=1024 -malloc_limit_mb=64 -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 work "$src/corpus"
