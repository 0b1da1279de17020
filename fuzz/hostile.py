"""A longer run of the fuzz tests' generators: every native function with hostile arguments,
spoilt working calls, and threads racing a caller who rewrites a shared argument.

Usage: python fuzz/hostile.py [rounds] [seed]    (`make asan` runs it under the sanitizers)
Prints one line per function and ends with the count of calls that raised something a caller
should never see (a SystemError, an exception of no ordinary kind); a crash ends the process.
"""
import collections
import inspect
import pathlib
import random
import sys
import threading

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))

import fuzz_inputs  # noqa: E402
import leakcheck  # noqa: E402


def scheme_pair(scheme, strength):
    from tesmar.quantum import core

    if scheme in (7, 8):
        return core.generate_keypair(scheme, strength)
    return core.generate_keypair(scheme, 2 if scheme == 4 else strength)


def judge(fn, args, outcomes, bad):
    try:
        fn(*args)
        outcomes["ok"] += 1
    except Exception as exc:  # noqa: BLE001 - judged below
        outcomes[type(exc).__name__] += 1
        if not fuzz_inputs.expected_error(exc):
            bad.append(f"{fn.__module__}.{fn.__name__}: {exc!r} for {[repr(a)[:60] for a in args]}")


def main(argv):
    from tesmar.rsa import core as rsa

    leakcheck.at_exit("hostile arguments")
    rounds = int(argv[0]) if argv else 2000
    seed = int(argv[1]) if len(argv) > 1 else 0
    material = fuzz_inputs.Material(rsa.new_key_pair(), scheme_pair)
    bad = []
    for module, name, fn in fuzz_inputs.native_functions():
        if (module, name) in fuzz_inputs.SLOW:
            continue
        rng = random.Random(f"{seed}:{module}.{name}")
        params = list(inspect.signature(fn).parameters)
        outcomes = collections.Counter()
        for _ in range(rounds):
            judge(fn, [material.value(rng, p) for p in params], outcomes, bad)
        print(f"{module}.{name}: {dict(outcomes.most_common(4))}", flush=True)

    rng = random.Random(seed)
    outcomes = collections.Counter()
    for _ in range(rounds * 10):
        judge(*material.mutated_call(rng), outcomes, bad)
    print(f"spoilt working calls: {dict(outcomes.most_common(6))}", flush=True)

    calls = [(fn, args, i) for fn, args in material.calls for i, a in enumerate(args) if isinstance(a, bytes)]
    shared = [bytearray(args[i]) for _, args, i in calls]
    done = threading.Event()

    def rewrite():
        r = random.Random(seed)
        while not done.is_set():
            for data in shared:
                data[r.randrange(len(data))] = r.randrange(256)

    def hammer(worker):
        r = random.Random(f"{seed}:{worker}")
        for _ in range(rounds):
            k = r.randrange(len(calls))
            fn, args, i = calls[k]
            args = list(args)
            args[i] = shared[k]
            judge(fn, args, outcomes, bad)

    fuzz_inputs.race(rewrite, hammer, 4, done)
    print("threads: done", flush=True)
    for line in bad[:20]:
        print("UNEXPECTED", line)
    print(f"unexpected exceptions: {len(bad)}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
