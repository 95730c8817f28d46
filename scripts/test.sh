#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs every test (the benchmarks
# excepted: they run with `ctest --test-dir build -L bench`).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# Formatting first: it takes a second and names the file to run clang-format on.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

cmake --workflow --preset ci

# The unit, server and scenario tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer (any report fails its test; the Qt host and the packages are left out
# of this build).
cmake --workflow --preset asan

# The fuzz harnesses (clang's libFuzzer, with AddressSanitizer and UndefinedBehaviorSanitizer),
# a minute each from their corpus; new inputs go to a scratch folder, a crash to build-fuzz/.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DACERTO_BUILD_FUZZ=ON -DACERTO_BUILD_TESTS=OFF -DACERTO_BUILD_BENCH=OFF -DACERTO_BUILD_GUI=OFF >/dev/null
cmake --build build-fuzz --target json_fuzz packet_fuzz delta_fuzz http_fuzz
for harness in json packet delta http; do
  scratch=$(mktemp -d)
  mkdir "$scratch/corpus"
  if ! "build-fuzz/fuzz/${harness}_fuzz" -max_total_time=60 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
      "$scratch/corpus" "fuzz/corpus/$harness" >"$scratch/log" 2>&1; then
    tail -n 60 "$scratch/log" >&2
    echo "fuzz: ${harness}_fuzz failed; the input is in build-fuzz/" >&2
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$scratch/log" | sed "s/^/${harness}_fuzz /"
  rm -rf "$scratch"
done
