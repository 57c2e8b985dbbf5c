#!/bin/sh
# Builds the libFuzzer targets with clang, replays each seed corpus, then fuzzes each target
# for SECONDS (default 30) under the sanitizers. New inputs go to a scratch folder.
set -eu
seconds=${1:-30}
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILM_FUZZ=ON -DQUILM_TESTS=OFF -DQUILM_BENCH=OFF -DQUILM_DATA=OFF
cmake --build build-fuzz -j"$(nproc)"
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0"
status=0
for target in build-fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=${target#build-fuzz/fuzz_}
    seeds="fuzz/corpus/$name"
    scratch=$(mktemp -d)
    echo "== fuzz $name: replay $(ls "$seeds" 2>/dev/null | wc -l) seeds, then ${seconds}s"
    corpora="$scratch"
    if [ -d "$seeds" ]; then
        "$target" -runs=0 "$seeds" || status=1
        corpora="$scratch $seeds"
    fi
    # New inputs are written to the first folder only, so the committed seeds stay as they are.
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -artifact_prefix="$scratch/" \
        $corpora || status=1
    rm -rf "$scratch"
done
exit $status
