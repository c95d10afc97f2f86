"""Speed of korva.StepwiseLDA from Python, against the module's own training
time in the same run, and scikit-learn's shrinkage LDA on the same data.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_fit_bench.py [REPEATS]

The data: 6000 simulated P300 epochs of 20 channels x 30 samples (600
features, seed 7, as bench/run_training_bench.sh), one C-contiguous float64
array. Each figure is the median of REPEATS runs (default 7) after one
warm-up run; the table is Markdown for docs/performance.md.
"""

import os
import statistics
import sys
import time
import tracemalloc

import numpy as np
from sklearn.discriminant_analysis import LinearDiscriminantAnalysis

import korva


def timed(function, repeats):
    """Median wall-clock seconds of function() and its last result."""
    function()
    seconds = []
    for _ in range(repeats):
        start = time.perf_counter()
        result = function()
        seconds.append(time.perf_counter() - start)
    return statistics.median(seconds), result


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    load_before = os.getloadavg()[0]
    X, y = korva.simulate_p300(6000, 20, 30, seed=7, return_X_y=True)
    assert X.flags.c_contiguous and X.dtype == np.float64
    gigabytes = X.nbytes / 1e9
    rows = []

    for p_enter, p_remove, max_iter in [(0.05, 0.10, 300), (0.10, 0.15, 60)]:
        model = korva.StepwiseLDA(p_enter, p_remove, max_iter)
        fits, modules = [], []
        model.fit(X, y)
        for _ in range(repeats):
            start = time.perf_counter()
            model.fit(X, y)
            fits.append(time.perf_counter() - start)
            modules.append(model.training_seconds_)
        ratio = statistics.median(f / m for f, m in zip(fits, modules))
        score, _ = timed(lambda: model.decision_function(X), repeats)
        rows.append((f"StepwiseLDA {p_enter} / {p_remove}, {max_iter}",
                     f"{model.n_iter_} changes, {model.support_.sum()} selected",
                     f"{1000 * statistics.median(fits):.1f} ms",
                     f"{1000 * statistics.median(modules):.1f} ms",
                     f"{ratio:.2f}",
                     f"{1000 * score:.1f} ms ({gigabytes / score:.1f} GB/s)"))

    lda = LinearDiscriminantAnalysis(solver="lsqr", shrinkage="auto")
    fit, _ = timed(lambda: lda.fit(X, y), repeats)
    score, _ = timed(lambda: lda.decision_function(X), repeats)
    rows.append(("shrinkage LDA (scikit-learn, lsqr, auto)", "600 features",
                 f"{1000 * fit:.1f} ms", "", "",
                 f"{1000 * score:.1f} ms ({gigabytes / score:.1f} GB/s)"))
    gemv, _ = timed(lambda: X @ lda.coef_[0], repeats)
    # What Python and numpy allocate during a fit (the kit's one copy of X
    # into the module's matrix is C++ memory and not counted).
    tracemalloc.start()
    korva.StepwiseLDA().fit(X, y)
    python_peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()

    print("| estimator | model | fit | module's training | fit / training "
          "| decision_function |")
    print("|---|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print(f"\nX @ w with numpy (a memory-speed reference): {1000 * gemv:.1f} ms "
          f"({gigabytes / gemv:.1f} GB/s); X is {1000 * gigabytes:.0f} MB")
    print(f"Python and numpy allocations during one fit: {python_peak / 1e6:.2f} MB "
          f"at most")
    print(f"load average (1 min): {load_before:.2f} before, "
          f"{os.getloadavg()[0]:.2f} after; {os.cpu_count()} cores; "
          f"{repeats} runs per figure")


if __name__ == "__main__":
    main()
