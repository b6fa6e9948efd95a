#!/usr/bin/env bash
# Static analysis of src/: clang-tidy with the checks in .clang-tidy, then
# cppcheck with the suppressions in cppcheck-suppressions.txt. Any finding
# fails. clang-tidy takes the compile commands of LINT_BUILD (default
# build-asan, configured here if need be).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LINT_BUILD:-$root/build-asan}
jobs=${LINT_JOBS:-$(nproc)}
cd "$root"

if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPICTOLUNE_SANITIZE=ON >/dev/null
fi
mapfile -t files < <(find src -name '*.cpp' | sort)

status=0
echo "clang-tidy: ${#files[@]} files"
set +e
printf '%s\n' "${files[@]}" |
    xargs -P "$jobs" -n 2 clang-tidy-14 -p "$build" --quiet 2>&1 |
    grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$'
[ "${PIPESTATUS[1]}" -eq 0 ] || status=1
set -e

echo "cppcheck: ${#files[@]} files"
cppcheck --std=c++20 --library=qt --enable=warning,performance,portability,style \
    --inline-suppr --suppressions-list=cppcheck-suppressions.txt --error-exitcode=1 --quiet \
    -I src --template='{file}:{line}: {severity}: {message} [{id}]' "${files[@]}" || status=1

[ $status -eq 0 ] && echo "lint: clean"
exit $status
