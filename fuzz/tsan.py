"""make tsan's runs: the extension and liboqs built with ThreadSanitizer, in an interpreter that is a
ThreadSanitizer program (fuzz/tsan_python.c), over everything tesmar does on several threads.

1. The planted race (the build has -DTESMAR_PLANT_RACE; TESMAR_PLANT_RACE=1 turns it on): two
   threads make calls that let the GIL go and calls that keep it. A report must name the counter
   written with the GIL released (the check is live) and none the counter written with it held
   (ThreadSanitizer sees the GIL's hand-offs, so what the GIL orders is not reported).
2. First uses of a function-local static on two threads at once (its guard orders them). 0 reports.
3. The soak (fuzz/soak.py): 8 threads of every family, then the concurrent awaits. 0 reports.
4. The thread benchmark's workloads (bench/threads.py --calls): every operation and size on 1, 2
   and 4 threads. 0 reports.

Usage: python fuzz/tsan.py --python build/tsan/python --build build/tsan --liboqs DIR [--seconds S]
Each run's output is kept in <build>/tsan-<run>.log. Exit status 1 when any check fails.
"""
import argparse
import os
import pathlib
import re
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
# The thread benchmark's families of tesmar calls (its "peer" rows are other libraries').
OURS = ["aes", "hybrid", "rsa", "files", "password", "quantum", "signature"]
WARNING = "WARNING: ThreadSanitizer:"
HELD, RELEASED = "planted_gil_held_count", "planted_gil_released_count"

PLANTED = r"""
import threading
from tesmar.aes import core as aes
small, large = b"s" * 64, b"L" * (1 << 20)
def work():
    for _ in range(200):
        aes.encrypt_bytes(small, "k")   # keeps the GIL
        aes.encrypt_bytes(large, "k")   # lets it go
threads = [threading.Thread(target=work) for _ in range(2)]
for t in threads: t.start()
for t in threads: t.join()
"""

# Two threads that are the first to use HKDF, at once: one initialises a function-local static while
# the other waits for it. Nothing to report, once the runtime's C++ part (the guards of such
# statics) is in the interpreter (fuzz/tsan_python.c).
STATICS = r"""
import threading
from tesmar.quantum import core as quantum
keys = [quantum.generate_keypair(scheme, 0)[0] for scheme in (5, 6)]
start = threading.Barrier(2)
def work(key):
    start.wait()
    quantum.encrypt("first", key)
threads = [threading.Thread(target=work, args=(key,)) for key in keys]
for t in threads: t.start()
for t in threads: t.join()
"""


def reports(text):
    """The ThreadSanitizer reports in a run's output, each as its text."""
    parts = text.split("==================\n")
    return [p for p in parts if WARNING in p]


def run(name, argv, env, build):
    log = build / f"tsan-{name}.log"
    print(f"== {name}" + ("" if argv[1] == "-c" else f": {' '.join(argv[1:])}"), flush=True)
    result = subprocess.run(argv, env=env, cwd=ROOT, capture_output=True, text=True)
    log.write_text(result.stdout + result.stderr)
    found = reports(result.stderr)
    print(f"   exit {result.returncode}, {len(found)} ThreadSanitizer reports (output in {log})")
    return result, found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--python", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--liboqs", required=True, help="the folder of the ThreadSanitizer liboqs")
    parser.add_argument("--seconds", type=float, default=30, help="of the soak")
    args = parser.parse_args(argv)
    build = pathlib.Path(args.build).resolve()
    env = dict(os.environ,
               # Every allocation goes through malloc, which ThreadSanitizer follows (a freed block
               # that another thread gets next is not shared memory).
               PYTHONMALLOC="malloc",
               PYTHONPATH=os.pathsep.join([str(build), str(HERE)]),
               LD_LIBRARY_PATH=args.liboqs,
               TSAN_OPTIONS=f"suppressions={HERE / 'tsan.supp'}:halt_on_error=0:exitcode=66:"
                            f"second_deadlock_stack=1:print_suppressions=0")
    env.pop("TESMAR_PLANT_RACE", None)
    failures = []

    result, found = run("planted", [args.python, "-c", PLANTED], dict(env, TESMAR_PLANT_RACE="1"), build)
    named = [r for r in found if RELEASED in r]
    held = [r for r in found if re.search(rf"\b{HELD}\b", r)]
    if not named:
        failures.append("the planted race (a counter written with the GIL released) was not reported")
    else:
        print("   the planted race, as reported:")
        print("   | " + "\n   | ".join(named[0].strip().splitlines()[:20]))
    if held:
        failures.append("a counter written only with the GIL held was reported: the GIL's ordering is not seen")
    if result.returncode != 66 and named:
        failures.append(f"the planted run ended with {result.returncode}, not ThreadSanitizer's 66")

    for name, command in (("statics", ["-c", STATICS]),
                          ("soak", [str(HERE / "soak.py"), f"{args.seconds:g}", "8"]),
                          ("bench", [str(ROOT / "bench" / "threads.py"), "--calls", "2", *OURS])):
        result, found = run(name, [args.python, *command], env, build)
        if found:
            failures.append(f"{name}: {len(found)} ThreadSanitizer reports, the first:\n{found[0]}")
        if result.returncode != 0:
            tail = "\n".join((result.stdout + result.stderr).strip().splitlines()[-15:])
            failures.append(f"{name} ended with status {result.returncode}:\n{tail}")

    for failure in failures:
        print("FAILED:", failure)
    if failures:
        return 1
    print("make tsan: the planted race was reported; the soak and the thread benchmark's workloads gave no reports")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
