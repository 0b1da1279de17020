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


@pytest.mark.parametrize("call_us,rates,meets", [
    (1.0, {1: 100, 2: 96, 4: 92}, True),
    (1.0, {1: 100, 2: 94, 4: 94}, False),     # 2 threads below 0.95x of one
    (1.0, {1: 100, 2: 100, 4: 94}, False),    # 4 threads more than 5% below 2
    (49.0, {1: 100, 2: 96, 4: 96}, True),     # under 50 us, 0.95x is enough
    (50.0, {1: 100, 2: 179, 4: 179}, False),  # from 50 us, 2 threads must reach 1.8x
    (50.0, {1: 100, 2: 181, 4: 175}, True),
    (50.0, {1: 100, 2: 181}, None),           # 4 threads not measured: no verdict
])
def test_goal_of_a_row(call_us, rates, meets):
    assert threads.verdict(call_us, rates) is meets


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
