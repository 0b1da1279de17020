"""Runs the fuzz targets under libFuzzer (through atheris), one after another, and reports.

Usage: python fuzz/run.py [--seconds N] [--canary] [--no-canary] [TARGET ...]

Meant to run under the sanitizer build (`make fuzz`, `make fuzz-smoke`): the extension and liboqs
built with clang and -fsanitize=address,undefined,fuzzer-no-link, the sanitizer runtime together
with libFuzzer preloaded into the interpreter. Every target (or the ones named) runs for N seconds
(FUZZ_SECONDS, default 10) from its seeds (fuzz/corpus/<target>) and regression inputs
(fuzz/regressions/<target>); what it learns goes to build/fuzz/corpus/<target>, anything it finds to
build/fuzz/findings/<target>/. Before the targets, the canary shows that the sanitizer and coverage
feedback are live: its planted over-read, behind four nested byte comparisons, must be reached and
reported. A line per target gives executions, coverage (cov/ft), corpus size and findings; the exit
status is 1 on any finding.
"""
import argparse
import ctypes
import os
import pathlib
import re
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
WORK = ROOT / "build" / "fuzz"
CANARY_SO = WORK / "canary.so"
# The extension alone registers tens of thousands of inline 8-bit counters; fewer means it was built
# without coverage (or the counters went to a runtime that ignores them) and a run would be blind.
MIN_NATIVE_COUNTERS = 5000


def child(name, libfuzzer_args):
    """Inside the fuzzing process: set up atheris over one target and fuzz until libFuzzer stops."""
    import atheris

    sys.path.insert(0, str(HERE))
    if name == "canary":
        lib = ctypes.CDLL(str(CANARY_SO))
        lib.canary.argtypes = (ctypes.c_char_p, ctypes.c_size_t)

        def target(data):
            lib.canary(data, len(data))
    else:
        import targets

        import tesmar  # noqa: F401 - the extension's counters are registered as it loads
        from tesmar.files import core as files

        # The stream functions are Python glue frozen into the extension: give atheris their
        # bytecode too, so the fuzzer sees their branches as well as the engine's.
        for obj in list(vars(files).values()):
            if callable(obj) and getattr(obj, "__module__", None) == files.__name__:
                if hasattr(obj, "__code__"):
                    atheris.instrument_func(obj)
                for member in vars(obj).values() if isinstance(obj, type) else ():
                    if hasattr(member, "__code__"):
                        atheris.instrument_func(member)
        target = targets.TARGETS[name][0]
    atheris.Setup([sys.argv[0], *libfuzzer_args], target)
    atheris.Fuzz()


def libfuzzer(name, args, seconds, log):
    """Run one fuzzing process; returns (exit status, its output)."""
    cmd = [sys.executable, str(HERE / "run.py"), "--child", name, *args,
           f"-max_total_time={seconds}", "-print_final_stats=1"]
    with open(log, "w") as out:
        proc = subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT, cwd=ROOT)
    return proc.returncode, log.read_text(errors="replace")


def stats(output):
    found = {}
    for key in ("number_of_executed_units", "average_exec_per_sec", "new_units_added", "peak_rss_mb"):
        m = re.search(rf"stat::{key}:\s*(\d+)", output)
        found[key] = int(m.group(1)) if m else None
    lines = re.findall(r"^#(\d+)\s+\w+\s+cov: (\d+) ft: (\d+) corp: (\d+)/", output, re.M)
    if lines:
        _, found["cov"], found["ft"], found["corp"] = (int(v) for v in lines[-1])
    counters = re.findall(r"Loaded \d+ modules\s+\((\d+) inline 8-bit counters\)", output)
    found["counters"] = sum(int(c) for c in counters)
    return found


def canary(seconds):
    """True when the planted over-read was reached (coverage guided there) and reported (ASan)."""
    if not CANARY_SO.is_file():
        print(f"canary: {CANARY_SO} is missing (make fuzz-build)")
        return False
    log = WORK / "logs" / "canary.log"
    artifacts = WORK / "findings" / "canary"
    artifacts.mkdir(parents=True, exist_ok=True)
    status, output = libfuzzer("canary", [f"-artifact_prefix={artifacts}/", "-seed=1"], seconds, log)
    reached = "AddressSanitizer: heap-buffer-overflow" in output and "canary" in output
    s = stats(output)
    print(f"canary: {'over-read reached and reported' if reached else 'NOT REACHED'} "
          f"(exit {status}, {s.get('counters')} counters; log {log.relative_to(ROOT)})", flush=True)
    return reached and status != 0


def fuzz_target(name, seconds):
    import targets

    corpus = WORK / "corpus" / name
    artifacts = WORK / "findings" / name
    corpus.mkdir(parents=True, exist_ok=True)
    artifacts.mkdir(parents=True, exist_ok=True)
    before = set(artifacts.iterdir())
    dirs = [str(corpus)] + [str(d) for d in (HERE / "corpus" / name, HERE / "regressions" / name) if d.is_dir()]
    args = [f"-artifact_prefix={artifacts}/", f"-max_len={targets.TARGETS[name][1]}", "-timeout=30",
            "-rss_limit_mb=4096", *dirs]
    log = WORK / "logs" / f"{name}.log"
    started = time.monotonic()
    status, output = libfuzzer(name, args, seconds, log)
    s = stats(output)
    findings = sorted(set(artifacts.iterdir()) - before)
    blind = s["counters"] < MIN_NATIVE_COUNTERS
    print(f"{name}: {s['number_of_executed_units']} executions in {time.monotonic() - started:.0f} s "
          f"({s['average_exec_per_sec']}/s), cov {s.get('cov')} ft {s.get('ft')}, corpus {s.get('corp')}, "
          f"native counters {s['counters']}, findings {len(findings)}"
          + (f", exit {status}" if status else "") + (" (NO NATIVE COVERAGE)" if blind else ""), flush=True)
    for path in findings:
        print(f"  finding: {path.relative_to(ROOT)} (log {log.relative_to(ROOT)})")
    if status and not findings:
        print(f"  the fuzzer stopped with exit {status}; see {log.relative_to(ROOT)}")
    return status == 0 and not findings and not blind


def main(argv):
    if argv[:1] == ["--child"]:
        child(argv[1], argv[2:])
        return 0
    sys.path.insert(0, str(HERE))
    import targets

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=int, default=int(os.environ.get("FUZZ_SECONDS", "10")))
    parser.add_argument("--canary", action="store_true", help="run only the canary")
    parser.add_argument("--no-canary", action="store_true", help="skip the canary")
    parser.add_argument("targets", nargs="*", metavar="TARGET", help=", ".join(targets.TARGETS))
    args = parser.parse_args(argv)
    unknown = [t for t in args.targets if t not in targets.TARGETS]
    if unknown:
        parser.error(f"unknown target(s) {', '.join(unknown)}; the targets are {', '.join(targets.TARGETS)}")
    (WORK / "logs").mkdir(parents=True, exist_ok=True)
    if not args.no_canary and not canary(60):
        print("the canary failed: the sanitizer or the coverage feedback is not live; not fuzzing")
        return 1
    if args.canary:
        return 0
    ok = True
    for name in args.targets or targets.TARGETS:
        ok &= fuzz_target(name, args.seconds)
    print("no findings" if ok else "FINDINGS (or a blind run): see above")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
