#!/usr/bin/env bash
# Builds the C++ tests and the extension module with sanitizers and runs both
# test suites against that build. Usage:
#   scripts/sanitize.sh [--thread] [pytest arguments...]
# Default: AddressSanitizer + UndefinedBehaviorSanitizer over the C++ tests and
# the Python tests (the interpreter runs with the ASan runtime preloaded).
# --thread: ThreadSanitizer over the C++ tests only (the parallel stages).
# Expects the environment of scripts/run_tests.sh (.venv with the test extras).
set -euo pipefail
cd "$(dirname "$0")/.."
python="${PYTHON:-$PWD/.venv/bin/python}"
export PATH="$(dirname "$python"):$PATH"

if [ "${1:-}" = "--thread" ]; then
    shift
    build=build/tsan
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORVANE_SANITIZE=thread -DCORVANE_BUILD_TESTS=ON
    cmake --build "$build"
    TSAN_OPTIONS="halt_on_error=1" "$build/corvane_tests" \
        --gtest_filter="${TSAN_FILTER:-*Thread*:*Parallel*:*RunTasks*:*ForEachRowChunk*}"
    exit 0
fi

build=build/asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_SANITIZE=address,undefined -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_MODULE=ON \
    -DPython_EXECUTABLE="$python"
cmake --build "$build"

export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" ctest --test-dir "$build" --output-on-failure --timeout 1200

# The interpreter itself is not instrumented: preload the ASan runtime, and
# leave leak reports to the C++ run (CPython keeps much alive until exit).
runtime="$(g++ -print-file-name=libasan.so)"
cd tests
LD_PRELOAD="$runtime" ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1" PYTHONPATH="$PWD/../$build" \
    "$python" -c "import corvane, sys; assert '$build' in corvane.__file__, corvane.__file__"
LD_PRELOAD="$runtime" ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1" PYTHONPATH="$PWD/../$build" \
    "$python" -m pytest -c ../pyproject.toml --rootdir .. -p no:cacheprovider python "$@"
