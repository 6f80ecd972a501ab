#!/usr/bin/env bash
# Builds the C++ tests and the extension module with sanitizers and runs both
# test suites against that build. Usage:
#   scripts/sanitize.sh [--thread | --quick] [pytest arguments...]
# Default: AddressSanitizer + UndefinedBehaviorSanitizer over the C++ tests and
# the Python tests (the interpreter runs with the ASan runtime preloaded).
# --quick: the same sanitizers over the extension module only, with a reduced
# set of Python tests (every entry point, the hostile inputs and the leak
# loops, without the large or long cases); this is what CI runs.
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
        --gtest_filter="${TSAN_FILTER:-*Thread*:*Parallel*:*RunTask*:*RunLockstep*:*ForEachRowChunk*:CoreDistances*:*RowSplit*:LazyTrainingIndex*}"
    exit 0
fi

quick=0
if [ "${1:-}" = "--quick" ]; then
    shift
    quick=1
fi

build=build/asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_SANITIZE=address,undefined -DCORVANE_BUILD_TESTS=$((1 - quick)) \
    -DCORVANE_BUILD_MODULE=ON -DPython_EXECUTABLE="$python"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ "$quick" = 1 ]; then
    cmake --build "$build" --target corvane
    set -- -m "not slow" "$@" python/test_module.py python/test_constructor.py \
        python/test_arrays.py python/test_fit.py python/test_predict.py python/test_hostile.py \
        python/test_estimator.py python/test_execution.py python/test_exports.py \
        python/test_soft.py
else
    cmake --build "$build"
    ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" \
        ctest --test-dir "$build" --output-on-failure --timeout 1200
    set -- python "$@"
fi

# The interpreter itself is not instrumented: preload the ASan runtime, and
# leave leak reports to the C++ run (CPython keeps much alive until exit).
# libstdc++ is preloaded with it, or the runtime finds no C++ throw to wrap and
# aborts on the first exception.
runtime="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)"
cd tests
LD_PRELOAD="$runtime" ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1" PYTHONPATH="$PWD/../$build" \
    "$python" -c "import corvane, sys; assert '$build' in corvane.__file__, corvane.__file__"
LD_PRELOAD="$runtime" ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1" PYTHONPATH="$PWD/../$build" \
    "$python" -m pytest -c ../pyproject.toml --rootdir .. -p no:cacheprovider "$@"
