#!/usr/bin/env bash
# Runs the atheris fuzz target against the corvane installed in .venv for a
# bounded time (default 600 s). Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
python="${PYTHON:-$PWD/.venv/bin/python}"
"$python" -c "import atheris" 2>/dev/null || "$python" -m pip install -q atheris
mkdir -p build/fuzz-corpus
cd build  # crash files land here, outside the source tree
"$python" ../fuzz/fuzz_surface.py -max_total_time="$seconds" -rss_limit_mb=4096 fuzz-corpus
