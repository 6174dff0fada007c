#!/bin/sh
# Builds and runs the canonical-text + SHA-256 throughput benchmark (Release)
# and prints its table.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build-bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_BENCH=ON >/dev/null
cmake --build "$root/build-bench" -j2 --target velkor_canonical_bench
"$root/build-bench/velkor_canonical_bench"
