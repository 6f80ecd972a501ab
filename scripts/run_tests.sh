#!/usr/bin/env bash
# Sets up everything the tests need on a fresh machine and runs the C++ and the
# Python test suites and the check of the type stubs, then a reduced Python suite
# under the sanitizers. Reuses .venv and build/ when they exist.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f /usr/include/gtest/gtest.h ]; then
    sudo_cmd=""
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
    $sudo_cmd apt-get update -qq
    $sudo_cmd env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev
fi

if [ ! -x .venv/bin/python ]; then
    python3 -m venv .venv
fi
.venv/bin/python -m pip install -q cmake ninja
.venv/bin/python -m pip install -q ".[test]"

export PATH="$PWD/.venv/bin:$PATH"
cmake -S . -B build/cpp-tests -G Ninja -DCORVANE_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release
cmake --build build/cpp-tests
ctest --test-dir build/cpp-tests --output-on-failure --timeout 600

(
    cd tests  # import the installed module, never a stray build from the source tree
    python -m pytest -c ../pyproject.toml --rootdir .. python "$@"
    # The installed type stubs against the installed module.
    python -m mypy.stubtest corvane
)

# The extension again, under AddressSanitizer and UndefinedBehaviorSanitizer.
bash scripts/sanitize.sh --quick
