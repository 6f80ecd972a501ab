#!/usr/bin/env bash
# Runs the atheris fuzz target for a bounded time (default 600 s) against a build of the
# extension with native coverage instrumentation and AddressSanitizer, so that the
# branches of the C++ code guide the fuzzer as well as those of the harness. Usage:
#   scripts/fuzz.sh [seconds]
# Needs clang 19 and its runtime libraries (Debian's clang-19 and libclang-rt-19-dev,
# installed through apt when missing; older clang cannot compile the C++23 library
# features the code uses against libstdc++ 12). atheris is built from source with the
# same clang, so that its libFuzzer and sanitizer runtime match the extension's.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
python="${PYTHON:-$PWD/.venv/bin/python}"
clang=clang-19

if ! command -v "$clang" >/dev/null || ! "$clang" -print-file-name=libclang_rt.fuzzer_no_main-x86_64.a |
    grep -q /; then
    sudo_cmd=""
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
    $sudo_cmd apt-get update -qq
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-19 libclang-rt-19-dev
fi
"$python" -c "import atheris" 2>/dev/null ||
    CLANG_BIN="$clang" "$python" -m pip install -q --no-binary atheris atheris

build=build/fuzz
export PATH="$(dirname "$python"):$PATH"
CC="$clang" CXX="${clang/clang/clang++}" cmake -S . -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_BUILD_MODULE=ON \
    -DCORVANE_SANITIZE=address,fuzzer-no-link -DPython_EXECUTABLE="$python"
cmake --build "$build" --target corvane

# The interpreter is not instrumented: atheris's ASan runtime, which carries libFuzzer, is
# preloaded, and libstdc++ with it so that the runtime can wrap C++ throws.
runtime="$("$python" -c "import atheris; print(atheris.path())")/asan_with_fuzzer.so"
runtime="$runtime $("$clang" -print-file-name=libstdc++.so)"
mkdir -p build/fuzz-corpus
cd build  # crash files land here, outside the source tree
LD_PRELOAD="$runtime" ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1" \
    PYTHONPATH="$PWD/fuzz" "$python" ../fuzz/fuzz_surface.py -max_total_time="$seconds" \
    -rss_limit_mb=4096 fuzz-corpus
