"""Saving and loading a fitted model: time against the fit of the same data, and the
memory it takes above what the process held before, against the size of the pickle.

Each size runs in a fresh process. Saving pickles with protocol 5, in band (one bytes
object) and out of band (the arrays handed over as buffers); loading is measured from
each. Time and memory should grow in proportion to the model, so every ratio should
stay flat as the size grows.

    python benchmarks/pickle_scaling.py [--sizes 250000 1000000] [--columns 2]
"""

import argparse
import json
import pickle
import subprocess
import sys
import time

from bench_data import make_blobs
from process_memory import reset_peak_rss, status_bytes


def measured(call):
    """The result of call(), its seconds, and its peak resident memory above the start."""
    reset_peak_rss()
    before = status_bytes("VmRSS")
    start = time.perf_counter()
    result = call()
    seconds = time.perf_counter() - start
    return result, seconds, status_bytes("VmHWM") - before


def dump_oob(model):
    buffers = []
    return pickle.dumps(model, protocol=5, buffer_callback=buffers.append), buffers


def run_case(n, d):
    import corvane

    x = make_blobs(n, d)
    model = corvane.HDBSCAN(min_samples=5)
    _, fit_seconds, _ = measured(lambda: model.fit(x))
    data, dump_seconds, dump_bytes = measured(lambda: pickle.dumps(model, protocol=5))
    loaded, load_seconds, load_bytes = measured(lambda: pickle.loads(data))
    assert (loaded.labels_ == model.labels_).all()
    del loaded
    (oob_data, buffers), oob_dump_seconds, oob_dump_bytes = measured(lambda: dump_oob(model))
    _, oob_load_seconds, oob_load_bytes = measured(lambda: pickle.loads(oob_data, buffers=buffers))
    return {
        "size": len(data),
        "fit": fit_seconds,
        "dump": dump_seconds,
        "load": load_seconds,
        "dump_bytes": dump_bytes,
        "load_bytes": load_bytes,
        "oob_dump": oob_dump_seconds,
        "oob_dump_bytes": oob_dump_bytes,
        "oob_load": oob_load_seconds,
        "oob_load_bytes": oob_load_bytes,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[250_000, 1_000_000])
    parser.add_argument("--columns", type=int, default=2)
    parser.add_argument("--case", type=int, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.case is not None:
        print(json.dumps(run_case(args.case, args.columns)))
        return
    print(
        f"{'points':>9} {'pickle MB':>9} | time / fit: {'dump':>5} {'load':>5} "
        f"{'dump5':>5} {'load5':>5} | memory / pickle: {'dump':>5} {'load':>5} "
        f"{'dump5':>5} {'load5':>5} | load s / Mpoint"
    )
    for n in args.sizes:
        output = subprocess.run(
            [sys.executable, __file__, "--case", str(n), "--columns", str(args.columns)],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
        r = json.loads(output)
        size = r["size"]
        print(
            f"{n:>9} {size / 2**20:>9.1f} | {'':>11} {r['dump'] / r['fit']:>5.3f} "
            f"{r['load'] / r['fit']:>5.3f} {r['oob_dump'] / r['fit']:>5.3f} "
            f"{r['oob_load'] / r['fit']:>5.3f} | {'':>16} {r['dump_bytes'] / size:>5.2f} "
            f"{r['load_bytes'] / size:>5.2f} {r['oob_dump_bytes'] / size:>5.2f} "
            f"{r['oob_load_bytes'] / size:>5.2f} | {r['load'] / n * 1e6:.3f}"
        )


if __name__ == "__main__":
    main()
