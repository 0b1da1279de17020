"""Compares two builds of tesmar side by side: call rates of the paths where the cost of crossing
into the extension shows (small inputs, Base64 text in and out, keyword arguments).

    python bench/builds.py OTHER [--rounds N] [--seconds S]
    python bench/builds.py OTHER --instructions [--calls N]

OTHER is a folder holding another build's `tesmar` package (for example a copy of an earlier
build's site-packages/tesmar); the build this interpreter imports is the first column. Each round
runs both builds in fresh processes, in alternating order, so that a busy moment of the machine
falls on both; the table shows each build's best round (as timeit advises: interference only ever
slows a round down) and their ratio.

--instructions counts instructions per call instead (valgrind's callgrind: N calls minus none,
divided by N), which a busy machine does not disturb.
"""
import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

WORKLOADS = r"""
import json, sys, time
import tesmar
from tesmar.aes import core as aes
from tesmar.password import core as password

key = "a key text"
small, page = b"x" * 64, b"y" * 4096
small_blob = aes.encrypt_bytes(small, key)
small_token = aes.encrypt_str("z" * 64, key)
record = password.hash_password("s3cret", 1000)
cases = {
    "aes encrypt_bytes 64 B": lambda: aes.encrypt_bytes(small, key),
    "aes encrypt_bytes 64 B, keywords": lambda: aes.encrypt_bytes(data=small, key=key),
    "aes decrypt_bytes 64 B": lambda: aes.decrypt_bytes(small_blob, key),
    "aes encrypt_str 64 B (Base64 out)": lambda: aes.encrypt_str("z" * 64, key),
    "aes decrypt_str 64 B (Base64 in)": lambda: aes.decrypt_str(small_token, key),
    "aes encrypt_bytes 4 KiB": lambda: aes.encrypt_bytes(page, key),
    "password needs_rehash": lambda: password.needs_rehash(record),
}
if sys.argv[1] == "count":  # run one case a given number of times, for an instruction count
    fn, n = cases[sys.argv[2]], int(sys.argv[3])
    for _ in range(n):
        fn()
    sys.exit()
seconds = float(sys.argv[1])
out = {"origin": tesmar.__spec__.origin}
for name, fn in cases.items():
    for _ in range(200):
        fn()
    calls, start = 0, time.perf_counter()
    while (elapsed := time.perf_counter() - start) < seconds:
        for _ in range(100):
            fn()
        calls += 100
    out[name] = calls / elapsed
print(json.dumps(out))
"""


def measure(pythonpath, seconds):
    env = dict(os.environ)
    if pythonpath:
        env["PYTHONPATH"] = pythonpath + os.pathsep + env.get("PYTHONPATH", "")
    done = subprocess.run([sys.executable, "-c", WORKLOADS, str(seconds)], env=env, capture_output=True,
                          text=True, check=True)
    return json.loads(done.stdout)


def instructions(pythonpath, case, calls):
    """Instructions one call of `case` takes, by callgrind's count of `calls` calls less none."""
    env = dict(os.environ, PYTHONHASHSEED="0")
    if pythonpath:
        env["PYTHONPATH"] = pythonpath + os.pathsep + env.get("PYTHONPATH", "")
    totals = []
    for n in (0, calls):
        done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", sys.executable,
                               "-c", WORKLOADS, "count", case, str(n)], env=env, capture_output=True, text=True,
                              check=True)
        line = next(x for x in done.stderr.splitlines() if "Collected :" in x)
        totals.append(int(line.split(":")[-1]))
    return (totals[1] - totals[0]) / calls


def case_names():
    return [c for c in measure(None, 0.0) if c != "origin"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("other", type=Path, help="folder holding the other build's tesmar package")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=0.3, help="per workload and round")
    parser.add_argument("--instructions", action="store_true", help="count instructions (valgrind) instead")
    parser.add_argument("--calls", type=int, default=20000, help="calls per count with --instructions")
    args = parser.parse_args()
    if not (args.other / "tesmar").is_dir():
        parser.error(f"{args.other} holds no tesmar package")
    builds = {"this": None, "other": str(args.other.resolve())}
    if args.instructions:
        print(f"instructions per call ({args.calls} calls, callgrind)")
        for case in case_names():
            a, b = (instructions(builds[name], case, args.calls) for name in builds)
            print(f"  {case:<36} this {a:>9,.0f}   other {b:>9,.0f}   ratio {a / b:5.3f}")
        return
    runs = {name: [] for name in builds}
    for i in range(args.rounds):
        order = list(builds) if i % 2 == 0 else list(reversed(builds))
        for name in order:
            runs[name].append(measure(builds[name], args.seconds))
    this, other = runs["this"][0]["origin"], runs["other"][0]["origin"]
    if this == other:
        sys.exit(f"both runs imported {this}: is OTHER shadowed by an installed tesmar?")
    print(f"this:  {this}\nother: {other}\nbest of {args.rounds} rounds, calls/s")
    for case in runs["this"][0]:
        if case == "origin":
            continue
        a = max(r[case] for r in runs["this"])
        b = max(r[case] for r in runs["other"])
        print(f"  {case:<36} this {a:>12,.0f}   other {b:>12,.0f}   ratio {a / b:5.3f}")


if __name__ == "__main__":
    main()
