"""Benchmark table of corvane's fit against SciPy's all-kNN query on the same data.

Imports the installed corvane and builds nothing. Each case runs in a fresh
process, so the peak resident memory it reports belongs to that fit alone:

    python benchmarks/run.py            # every case (several minutes)
    python benchmarks/run.py --quick    # small cases, a minute or two
    python benchmarks/run.py --scale    # 10^7 and 10^8 planar points (tens of minutes, 24 GiB)

A second table covers wide data (20 to 512 columns), where the baseline is NumPy's
all-pairs product X @ X.T of the same data (in row blocks of 512, results discarded):
fit time on every processor and on one, their ratio (the speed-up), and the fit against
the product; min_samples = min_cluster_size = 10.

Columns: corvane fit time, SciPy's cKDTree(X).query(X, k=min_samples,
workers=-1) time (the floor any exact HDBSCAN pays for core distances), their
ratio, the fit's peak resident memory above the process before the fit (also
per point), what the fitted model holds at rest beyond its training data, per
point (in brackets the part that is the hierarchy: spanning tree, condensed
tree, selection), and the share of the fit spent in core distances, the
spanning tree and the hierarchy, with the share of the hierarchy's largest step
(single linkage, condensed tree, selection, labels, probabilities or outlier
scores) in brackets. Model sizes and stage shares need a build with the CMake
option CORVANE_STAGE_TIMINGS=ON
(pip install . -C cmake.define.CORVANE_STAGE_TIMINGS=ON); otherwise they show
as "-".

The "normal" cases are standard normal points with min_samples = 10 against SciPy's query
with k = 10, the same k.

After the table: how the time of the 2-column Euclidean fits grows with n, each
other metric's fit against the Euclidean fit of the same data (time, and peak
memory per point), and how each metric's time grows from 50 000 to 800 000
points, next to the exponent that n log n fits over the same range. Then, per
data set, each metric's growth beside the growth of the Euclidean fit and of
SciPy's kNN on the same data, so that a growth the data imposes shows on all
three. Data sets (DATA): the clustered blobs, clusters of directions near a
low-dimensional structure (what cosine fits of embeddings meet), and
structureless normal values, whose cosine fit is set against the Euclidean fit
of the same rows scaled to unit length. Then (not with --quick) the 250 000-point normal
cases again, fit and query three times each, alternating in one process: the first pair's
ratio, as in the table, and the ratio of the fastest of each, which a neighbour's passing
load sways less. Last the speed-up of the 2-column fit of 1 000 000 points on every
processor against one, beside the machine's own scaling on a fixed NumPy sort: on a
shared machine a neighbour's load lowers both.
"""

import argparse
import json
import math
import subprocess
import sys
import time

import numpy as np
from bench_data import blobs_with_noise, directions, make_blobs, standard_normal, unit_rows
from process_memory import reset_peak_rss, status_bytes

MIN_SAMPLES = 5
# Cases whose fit (min_samples = min_cluster_size) and kNN query take another k.
CASE_MIN_SAMPLES = {"normal": 10, "unit normal": 10}

# (name, n, d, metric); "minkowski3" is minkowski with p = 3, "chebyshev" with p = inf. The
# names are those of DATA.
METRIC_SIZES = (50_000, 200_000, 800_000)
FULL_CASES = [
    ("normal", 250_000, 2, "euclidean"),
    ("normal", 250_000, 5, "euclidean"),
    ("blobs", 10_000, 2, "euclidean"),
    ("blobs", 100_000, 2, "euclidean"),
    ("blobs", 1_000_000, 2, "euclidean"),
    ("blobs", 200_000, 10, "euclidean"),
    ("blobs", 50_000, 50, "euclidean"),
    *[("blobs", n, 3, "euclidean") for n in METRIC_SIZES],
    *[
        ("blobs", n, 3, metric)
        for metric in ("manhattan", "minkowski3", "chebyshev")
        for n in METRIC_SIZES
    ],
    *[("blobs", n, 10, "euclidean") for n in METRIC_SIZES if n != 200_000],
    *[("blobs", n, 10, "cosine") for n in METRIC_SIZES],
    *[("directions", n, 10, metric) for metric in ("euclidean", "cosine") for n in METRIC_SIZES],
    ("normal", 50_000, 10, "euclidean"),
    ("normal", 50_000, 10, "cosine"),
    ("unit normal", 50_000, 10, "euclidean"),
    ("precomputed", 5_000, 5_000, "precomputed"),
]
QUICK_CASES = [
    ("normal", 50_000, 2, "euclidean"),
    ("blobs", 10_000, 2, "euclidean"),
    ("blobs", 100_000, 2, "euclidean"),
    ("blobs", 20_000, 10, "euclidean"),
    ("blobs", 20_000, 10, "cosine"),
    ("directions", 20_000, 10, "euclidean"),
    ("directions", 20_000, 10, "cosine"),
    ("blobs", 20_000, 3, "euclidean"),
    ("blobs", 20_000, 3, "manhattan"),
    ("blobs", 20_000, 3, "minkowski3"),
    ("blobs", 20_000, 3, "chebyshev"),
    ("precomputed", 2_000, 2_000, "precomputed"),
]
SCALING_SIZES = {10_000, 100_000, 1_000_000}
# Generators of the data of the cases, called with (n, d): the benchmark's clustered blobs;
# clusters of directions near a 3-dimensional structure, as embeddings clustered under
# cosine sit; structureless standard normal values, and the same rows scaled to unit
# length, whose Euclidean fit faces the geometry the cosine fit of "normal" faces.
DATA = {
    "blobs": make_blobs,
    "directions": directions,
    "normal": standard_normal,
    "unit normal": lambda n, d: unit_rows(standard_normal(n, d)),
}
METRIC_PARAMS = {
    "minkowski3": {"metric": "minkowski", "p": 3.0},
    "chebyshev": {"metric": "minkowski", "p": math.inf},
}

WIDE_MIN_SAMPLES = 10
# (name, n, d): "make_blobs" is scikit-learn's with 5 centres and spread 0.6, "blobs" 20
# blobs with 5% noise (bench_data.blobs_with_noise).
WIDE_CASES = [
    ("make_blobs", 100_000, 20),
    ("blobs", 50_000, 50),
    ("blobs", 20_000, 512),
]
QUICK_WIDE_CASES = [
    ("make_blobs", 20_000, 20),
    ("blobs", 10_000, 50),
    ("blobs", 4_000, 512),
]


def run_case(name, n, d, metric):
    """Runs one case in this process; returns its measurements."""
    from scipy.spatial import cKDTree

    import corvane

    if name == "precomputed":
        points = make_blobs(n, 2)
        from scipy.spatial.distance import cdist

        data = cdist(points, points)
        knn_input = points
    else:
        data = DATA[name](n, d)
        knn_input = data
    k = CASE_MIN_SAMPLES.get(name, MIN_SAMPLES)
    params = METRIC_PARAMS.get(metric, {"metric": metric})
    model = corvane.HDBSCAN(min_cluster_size=k, min_samples=k, **params)
    result = measured_fit(model, data)

    start = time.perf_counter()
    cKDTree(knn_input).query(knn_input, k=k, workers=-1)
    result["knn"] = time.perf_counter() - start
    return result


def measured_fit(model, data):
    """Fits and returns its time, its peak resident memory above the process before it, in
    all and (benchmark builds) per stage, the model's size by part and the cluster count."""
    reset_peak_rss()
    before = status_bytes("VmRSS")
    start = time.perf_counter()
    model.fit(data)
    fit_seconds = time.perf_counter() - start
    # Benchmark builds start the peak again at every stage and report each one.
    stage_peaks = getattr(model, "_stage_peak_bytes_", None)
    peak = max([status_bytes("VmHWM"), *(stage_peaks or {}).values()])
    return {
        "fit": fit_seconds,
        "peak": peak - before,
        "stage_peaks": {
            stage: max(0.0, value - before) for stage, value in (stage_peaks or {}).items()
        },
        "clusters": int(model.labels_.max()) + 1,
        "stages": getattr(model, "_stage_seconds_", None),
        "model_bytes": getattr(model, "_model_bytes_", None),
    }


SCALE_SIZES = (10_000_000, 100_000_000)
SCALE_MIN_SAMPLES = 10


def run_scale_case(n):
    """One 2-column fit of blobs with noise at min_samples = min_cluster_size = 10."""
    import corvane

    data = blobs_with_noise(n, 2)
    model = corvane.HDBSCAN(min_cluster_size=SCALE_MIN_SAMPLES, min_samples=SCALE_MIN_SAMPLES)
    return measured_fit(model, data)


def print_scale_table():
    """Time, peak memory and bytes per point beyond the input of the largest fits, and the
    peak of each stage (benchmark builds), each fit in a fresh process."""
    print(
        f"2-column blobs with noise, min_samples = min_cluster_size = {SCALE_MIN_SAMPLES}; "
        "peaks above the process before the fit, which holds the input (16 bytes per point)"
    )
    header = f"{'n':>11} {'fit s':>8} {'s / 10^6 pts':>13} {'peak GB':>8} {'B/point':>8}"
    print(header)
    print("-" * len(header))
    for n in SCALE_SIZES:
        r = measure(n, kind="--scale-case")
        print(
            f"{n:>11} {r['fit']:>8.1f} {r['fit'] / n * 1e6:>13.2f} {r['peak'] / 1e9:>8.2f} "
            f"{r['peak'] / n:>8.0f}",
            flush=True,
        )
        for stage in STAGE_NAMES:
            if stage in r["stage_peaks"]:
                seconds = r["stages"][stage]
                print(
                    f"{'':>11}   {stage:<15} {seconds:>7.2f} s, peak "
                    f"{r['stage_peaks'][stage] / n:>5.0f} B/point"
                )


def wide_data(name, n, d):
    if name == "make_blobs":
        from sklearn.datasets import make_blobs as sklearn_blobs

        return sklearn_blobs(n, n_features=d, centers=5, cluster_std=0.6, random_state=0)[0]
    return blobs_with_noise(n, d)


def all_pairs_seconds(data):
    """NumPy's all-pairs product in row blocks of 512, results discarded."""
    start = time.perf_counter()
    for first in range(0, len(data), 512):
        data[first : first + 512] @ data.T
    return time.perf_counter() - start


def run_wide_case(name, n, d):
    """Fit on every processor, fit on one, and the all-pairs product, in this process."""
    import os

    import corvane

    data = wide_data(name, n, d)
    model = corvane.HDBSCAN(min_cluster_size=WIDE_MIN_SAMPLES, min_samples=WIDE_MIN_SAMPLES)
    start = time.perf_counter()
    model.fit(data)
    fit_seconds = time.perf_counter() - start
    every_cpu = os.sched_getaffinity(0)
    os.sched_setaffinity(0, {min(every_cpu)})
    try:
        start = time.perf_counter()
        corvane.HDBSCAN(min_cluster_size=WIDE_MIN_SAMPLES, min_samples=WIDE_MIN_SAMPLES).fit(data)
        one_seconds = time.perf_counter() - start
    finally:
        os.sched_setaffinity(0, every_cpu)
    return {
        "fit": fit_seconds,
        "one": one_seconds,
        "processors": len(every_cpu),
        "all_pairs": all_pairs_seconds(data),
        "clusters": int(model.labels_.max()) + 1,
    }


SPEED_UP_POINTS = 1_000_000
SPEED_UP_MIN_SAMPLES = 10
# A fixed piece of work for the machine's own scaling: sorting 4 000 000 random values six
# times, in a process of its own.
CONTROL_WORK = (
    "import numpy as np\n"
    "values = np.random.default_rng(0).random(4_000_000)\n"
    "for _ in range(6): np.sort(values)"
)


def run_speed_up_case(n):
    """The 2-column fit on every processor against one (best of 3 each, alternating), and
    the machine's own scaling on as many processors: CONTROL_WORK alone against that many
    copies at once. On a shared machine the second shows what the processors gave."""
    import os

    import corvane

    data = make_blobs(n, 2)
    processors = len(os.sched_getaffinity(0))
    best = {1: math.inf, processors: math.inf}
    for _ in range(3):
        for jobs in best:
            model = corvane.HDBSCAN(
                min_cluster_size=SPEED_UP_MIN_SAMPLES,
                min_samples=SPEED_UP_MIN_SAMPLES,
                n_jobs=jobs,
            )
            start = time.perf_counter()
            model.fit(data)
            best[jobs] = min(best[jobs], time.perf_counter() - start)

    def control_seconds(copies):
        start = time.perf_counter()
        workers = [subprocess.Popen([sys.executable, "-c", CONTROL_WORK]) for _ in range(copies)]
        for worker in workers:
            worker.wait()
        return time.perf_counter() - start

    alone = min(control_seconds(1) for _ in range(2))
    together = min(control_seconds(processors) for _ in range(2))
    return {
        "processors": processors,
        "one": best[1],
        "every": best[processors],
        "control": processors * alone / together,
    }


def print_speed_up():
    r = measure(SPEED_UP_POINTS, kind="--speed-up-case")
    print(
        f"\nspeed-up, 2-column blobs at n = {SPEED_UP_POINTS}: {r['one'] / r['every']:.2f} on "
        f"{r['processors']} processors against 1 (fit {r['every']:.3f} s against "
        f"{r['one']:.3f} s, best of 3 each); the machine's own scaling on them: "
        f"{r['control']:.2f} (a fixed NumPy sort, one copy against {r['processors']} at once)"
    )


RATIO_POINTS = 250_000
RATIO_COLUMNS = (2, 5)
RATIO_ROUNDS = 3


def run_ratio_case(d):
    """The fit of RATIO_POINTS standard normal points against SciPy's query (k = 10),
    RATIO_ROUNDS times each, alternating, in this process: the first of each and the
    fastest of each. A single pair on a shared machine swings with its neighbours' load."""
    from scipy.spatial import cKDTree

    import corvane

    data = standard_normal(RATIO_POINTS, d)
    k = CASE_MIN_SAMPLES["normal"]
    fits, queries = [], []
    for _ in range(RATIO_ROUNDS):
        model = corvane.HDBSCAN(min_cluster_size=k, min_samples=k)
        start = time.perf_counter()
        model.fit(data)
        fits.append(time.perf_counter() - start)
        start = time.perf_counter()
        cKDTree(data).query(data, k=k, workers=-1)
        queries.append(time.perf_counter() - start)
    return {"fits": fits, "queries": queries}


def print_ratios():
    print(
        f"\nfit / SciPy kNN, {RATIO_POINTS} standard normal points, k = 10, {RATIO_ROUNDS} "
        "rounds alternating in one process:"
    )
    for d in RATIO_COLUMNS:
        r = measure(d, kind="--ratio-case")
        fits, queries = r["fits"], r["queries"]
        print(
            f"  {d} columns: first {fits[0] / queries[0]:.2f} (fit {fits[0]:.3f} s, kNN "
            f"{queries[0]:.3f} s); fastest {min(fits) / min(queries):.2f} (fit "
            f"{min(fits):.3f} s, kNN {min(queries):.3f} s)"
        )


def measure(case, kind="--case"):
    output = subprocess.run(
        [sys.executable, __file__, kind, json.dumps(case)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return json.loads(output.strip().splitlines()[-1])


HIERARCHY_STEPS = (
    "single_linkage",
    "condensed_tree",
    "selection",
    "labels",
    "probabilities",
    "outlier_scores",
)


STAGE_NAMES = ("core_distances", "spanning_tree", *HIERARCHY_STEPS)


def format_model_bytes(parts, n):
    """Bytes per point the model holds beyond its training data (the hierarchy's share)."""
    if not parts:
        return "-"
    beyond = sum(parts.values()) - parts["training_data"]
    return f"{beyond / n:.1f} ({parts['hierarchy'] / n:.1f})"


def format_stages(stages, total):
    """Shares of core distances, spanning tree and hierarchy, and the largest hierarchy step."""
    if not stages:
        return "-"
    parts = [
        stages.get(key, 0.0) / total for key in ("core_distances", "spanning_tree", "hierarchy")
    ]
    largest = max(stages.get(step, 0.0) for step in HIERARCHY_STEPS) / total
    return " / ".join(f"{100 * share:3.0f}%" for share in parts) + f" ({100 * largest:2.0f}%)"


def fitted_exponent(sizes):
    """Exponent of n in a power law through (n, seconds), and the one n log n fits."""
    x = np.log([n for n, _ in sizes])
    exponent = np.polyfit(x, np.log([seconds for _, seconds in sizes]), 1)[0]
    nlogn = np.polyfit(x, np.log([n * math.log(n) for n, _ in sizes]), 1)[0]
    return exponent, nlogn


def print_metric_summary(results):
    """Each metric against the Euclidean fit of the same data, and its growth with n."""
    lines = []
    for (name, n, d, metric), result in results.items():
        euclidean = results.get((name, n, d, "euclidean"))
        if metric in ("euclidean", "precomputed") or euclidean is None:
            continue
        ratio = result["fit"] / euclidean["fit"]
        lines.append(
            f"  {metric:<11} {n:>9} x {d:<3} fit / Euclidean fit {ratio:5.2f}"
            f"   peak {result['peak'] / n:6.0f} B/point (Euclidean {euclidean['peak'] / n:.0f})"
            + ("" if name == "blobs" else f"   on {name}")
        )
        unit = results.get((f"unit {name}", n, d, "euclidean"))
        if metric == "cosine" and unit is not None:
            lines.append(
                f"  {metric:<11} {n:>9} x {d:<3} fit / Euclidean fit of its unit rows "
                f"{result['fit'] / unit['fit']:5.2f}   on {name}"
            )
    if lines:
        print("\nother metrics against the Euclidean fit of the same data:")
        print("\n".join(lines))
    for metric in sorted({case[3] for case in results if case[3] != "precomputed"}):
        for d in sorted({case[2] for case in results if case[3] == metric}):
            sizes = sorted(
                (n, r["fit"])
                for (name, n, dd, m), r in results.items()
                if name == "blobs" and dd == d and m == metric and n in METRIC_SIZES
            )
            if len(sizes) < 2:
                continue
            exponent, nlogn = fitted_exponent(sizes)
            print(
                f"scaling, {metric} in {d} columns at n = {', '.join(str(n) for n, _ in sizes)}: "
                f"time ~ n^{exponent:.2f} (n log n over this range fits n^{nlogn:.2f})"
            )
    print_growth_against_baselines(results)


def print_growth_against_baselines(results):
    """Each metric's growth next to the Euclidean fit's and SciPy kNN's on the same data."""
    for name, d, metric in sorted({(c[0], c[2], c[3]) for c in results}):
        if metric in ("euclidean", "precomputed"):
            continue
        sizes = sorted(n for (nm, n, dd, m) in results if (nm, dd, m) == (name, d, metric))
        sizes = [n for n in sizes if n in METRIC_SIZES and (name, n, d, "euclidean") in results]
        if len(sizes) < 2:
            continue
        fit, nlogn = fitted_exponent([(n, results[(name, n, d, metric)]["fit"]) for n in sizes])
        euclidean, _ = fitted_exponent(
            [(n, results[(name, n, d, "euclidean")]["fit"]) for n in sizes]
        )
        knn, _ = fitted_exponent([(n, results[(name, n, d, metric)]["knn"]) for n in sizes])
        print(
            f"growth on {name} in {d} columns at n = {', '.join(str(n) for n in sizes)}: "
            f"{metric} fit n^{fit:.2f}, Euclidean fit n^{euclidean:.2f}, SciPy kNN n^{knn:.2f} "
            f"(n log n fits n^{nlogn:.2f})"
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small cases, a minute or two")
    parser.add_argument(
        "--scale", action="store_true", help="10^7 and 10^8 planar points, time and memory"
    )
    parser.add_argument("--case", help=argparse.SUPPRESS)
    parser.add_argument("--wide-case", help=argparse.SUPPRESS)
    parser.add_argument("--scale-case", help=argparse.SUPPRESS)
    parser.add_argument("--speed-up-case", help=argparse.SUPPRESS)
    parser.add_argument("--ratio-case", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.case:
        print(json.dumps(run_case(*json.loads(args.case))))
        return
    if args.wide_case:
        print(json.dumps(run_wide_case(*json.loads(args.wide_case))))
        return
    if args.scale_case:
        print(json.dumps(run_scale_case(json.loads(args.scale_case))))
        return
    if args.speed_up_case:
        print(json.dumps(run_speed_up_case(json.loads(args.speed_up_case))))
        return
    if args.ratio_case:
        print(json.dumps(run_ratio_case(json.loads(args.ratio_case))))
        return
    if args.scale:
        print_scale_table()
        return

    import corvane

    cases = QUICK_CASES if args.quick else FULL_CASES
    print(f"corvane {corvane.__file__}")
    header = (
        f"{'data':<12} {'n':>9} {'d':>5} {'metric':<11} {'fit s':>8} {'kNN s':>8} "
        f"{'fit/kNN':>8} {'peak MB':>8} {'B/point':>8} {'model B/pt':>12} "
        f"{'core / tree / hierarchy (step)':>31}"
    )
    print(header)
    print("-" * len(header))
    timings = {}
    results = {}
    for case in cases:
        name, n, d, metric = case
        result = measure(case)
        timings[(name, n, d, metric)] = result["fit"]
        results[(name, n, d, metric)] = result
        print(
            f"{name:<12} {n:>9} {d:>5} {metric:<11} {result['fit']:>8.3f} "
            f"{result['knn']:>8.3f} {result['fit'] / result['knn']:>8.2f} "
            f"{result['peak'] / 2**20:>8.1f} {result['peak'] / n:>8.0f} "
            f"{format_model_bytes(result['model_bytes'], n):>12} "
            f"{format_stages(result['stages'], result['fit']):>31}",
            flush=True,
        )

    sizes = sorted(
        (n, seconds)
        for (name, n, d, metric), seconds in timings.items()
        if name == "blobs" and d == 2 and metric == "euclidean" and n in SCALING_SIZES
    )
    if len(sizes) >= 2:
        exponent, nlogn = fitted_exponent(sizes)
        print(
            f"\nscaling, 2-column blobs at n = {', '.join(str(n) for n, _ in sizes)}: "
            f"time ~ n^{exponent:.2f} (n log n over this range fits n^{nlogn:.2f})"
        )
    print_metric_summary(results)
    if not args.quick:
        print_ratios()
        print_speed_up()

    print_wide_table(QUICK_WIDE_CASES if args.quick else WIDE_CASES)


def print_wide_table(cases):
    header = (
        f"\n{'wide data':<12} {'n':>9} {'d':>5} {'fit s':>8} {'1 cpu s':>8} {'speed-up':>9} "
        f"{'X@X.T s':>8} {'fit/X@X.T':>10}"
    )
    print(header)
    print("-" * (len(header) - 1))
    for case in cases:
        name, n, d = case
        r = measure(case, kind="--wide-case")
        ratio = r["fit"] / r["all_pairs"]
        print(
            f"{name:<12} {n:>9} {d:>5} {r['fit']:>8.3f} {r['one']:>8.3f} "
            f"{r['one'] / r['fit']:>9.2f} {r['all_pairs']:>8.3f} {ratio:>10.2f}",
            flush=True,
        )


if __name__ == "__main__":
    main()
