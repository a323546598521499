#!/usr/bin/env bash
# Runs every test and ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")"

if [[ ! -f build/CMakeCache.txt ]]; then
    echo "test.sh: there is no build here yet: run ./build.sh first (it installs what the build and the tests" \
         "need, then builds)" >&2
    echo "0 passed, 1 failed: ./build.sh has not run"
    exit 1
fi
cmake --build --preset default || { echo "0 passed, 1 failed: the build failed"; exit 1; }
log=build/ctest.log
ctest --preset default "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1 \2/p' "$log" | tail -n 1)
read -r failed all <<<"${total:-1 1}"
skipped=$(grep -c -E '\*\*\*Skipped|Not Run' "$log" || true)
echo "$((all - failed - skipped)) passed, $failed failed, $skipped skipped"
exit "$status"
