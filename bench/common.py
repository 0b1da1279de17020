"""Timing helpers shared by the benchmarks."""
import time


def rate(fn, min_time=0.5, min_calls=3):
    """Calls per second of fn(), measured over at least min_time seconds."""
    fn()  # warm up
    calls = 0
    start = time.perf_counter()
    elapsed = 0.0
    while elapsed < min_time or calls < min_calls:
        fn()
        calls += 1
        elapsed = time.perf_counter() - start
    return calls / elapsed


def row(label, ours, theirs, unit="calls/s"):
    """Prints one comparison line: tesmar's rate, the alternative's and their ratio."""
    print(f"  {label:<40} tesmar {ours:>12,.0f} {unit}   other {theirs:>12,.0f} {unit}   ratio {ours / theirs:6.2f}x")
