"""The thread benchmark's goal check and make tsan's reading of ThreadSanitizer's output: both
must notice what they exist to catch."""
import importlib.util
import pathlib
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]


def load(path):
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


threads = load(ROOT / "bench" / "threads.py")
tsan = load(ROOT / "fuzz" / "tsan.py")


def ratios(two, four, err=0.002):
    return {(1, 2): (two, err), (2, 4): (four, err)}


@pytest.mark.parametrize("call_us,ratios,state", [
    (1.0, ratios(0.96, 0.96), "meets"),
    (1.0, ratios(0.94, 1.0), "miss"),             # 2 threads below 0.95x of one
    (1.0, ratios(1.0, 0.94), "miss"),             # 4 threads more than 5% below 2
    (1.0, ratios(0.94, 1.0, err=0.02), "noise"),  # short by less than twice the error
    (1.0, ratios(0.94, 1.0, err=None), "miss"),   # one round: no error to allow for
    (49.0, ratios(0.96, 0.96), "meets"),          # under 50 us, 0.95x is enough
    (50.0, ratios(1.79, 1.0), "miss"),             # from 50 us, 2 threads must reach 1.8x
    (50.0, ratios(1.81, 0.96), "meets"),
    (50.0, {(1, 2): (1.81, 0.01)}, None),         # 4 threads not measured: no verdict
])
def test_goal_of_a_row(call_us, ratios, state):
    assert threads.verdict(call_us, ratios) == state


def test_ratio_is_of_the_means_with_the_rounds_spread():
    value, err = threads.ratio({1: [100, 300], 2: [180, 620]}, 1, 2)
    assert value == pytest.approx(2.0)  # the means' ratio, not the mean of 1.8 and 2.07
    assert err == pytest.approx(abs(620 / 300 - 1.8) / 2)
    assert threads.ratio({1: [100], 2: [190]}, 1, 2) == (1.9, None)


def test_workloads_run_on_threads_with_a_fixed_number_of_calls():
    out = subprocess.run([sys.executable, str(ROOT / "bench" / "threads.py"), "--calls", "1", "--threads", "1,2",
                          "aes", "password"], capture_output=True, text=True, timeout=300, check=True).stdout
    rows = [line for line in out.splitlines() if line.startswith(("aes ", "password "))]
    assert len(rows) == 2 * len(threads.SIZES) + 2 * len(threads.ITERATIONS)
    assert "MISS" not in out  # a fixed number of calls is no measurement: no verdicts


REPORT = """==================
WARNING: ThreadSanitizer: data race (pid=1)
  Write of size 8 at 0x1 by thread T2:
    #0 tesmar::py::detail::planted_race(bool) call.cpp
  Location is global 'tesmar::py::detail::(anonymous namespace)::{name}' of size 8
SUMMARY: ThreadSanitizer: data race call.cpp in planted_race
==================
"""


def test_tsan_reports_are_found_one_by_one():
    text = "soak: 8 threads\n" + REPORT.format(name=tsan.RELEASED) + REPORT.format(name=tsan.HELD) + "done\n"
    found = tsan.reports(text)
    assert len(found) == 2
    assert tsan.RELEASED in found[0] and tsan.HELD not in found[0] and tsan.HELD in found[1]
    assert tsan.reports("ThreadSanitizer: reported 0 warnings\n") == []
