"""Total throughput of every operation that takes data on 1, 2 and 4 threads of one process.

Every thread calls the same function in a loop on the same (read-only) inputs; a sample is the
number of calls all threads finished divided by the wall time they took. A row meets the goal
when 2 threads give at least 0.95x of 1 thread (at least 1.8x where one call takes 50 us or more,
so the work behind a released GIL really runs on both cores) and 4 threads give at least 0.95x
of 2.

A cell is the mean of --rounds samples, taken in rounds that interleave the thread counts (1, 2,
4, then 2, 4, 1, ...), so every count sees the same spells of a shared or virtual machine. On a
virtual machine the speed of one core jumps between two levels (seen: 2.1 and 3.4 GB/s of AES-GCM
on one pinned thread, in spells of 20 ms to a second), and each core does so on its own. The mean
is the statistic that survives this: 2 threads' mean rate is twice 1 thread's however the spells
fall, while a median is not (with a core fast 70% of the time, 1 thread's median is the fast
level but 2 threads' median is one fast core plus one slow, and a perfectly parallel call reads
1.6x; GIL-held work hops between the cores and reads 0.8x). The best of a few runs is worse still:
it compares one count's lucky spell with another's ordinary one. Beside each ratio stands its
standard error, from the ratios within each round: a row short of the goal by more than twice it
is a MISS, one short by less is "short, within noise".

Usage: python bench/threads.py [--quick] [--seconds S] [--rounds R] [--threads 1,2,4] [--save FILE]
                               [--against FILE] [--passes N [--quiet SHARE [--patience S]]]
                               [--calls N] [family ...]
Families: aes hybrid rsa files password quantum signature peer (other libraries' calls, printed
as the machine's measure and not judged). --quick: three sizes, fewer rounds.
--save writes the rates as JSON; --against FILE prints a saved run's 1-thread rate beside this
one's (another build's, run with its own PYTHONPATH). --passes N measures the rows short of the
goal (MISS or within noise) again, up to N more times, each pass adding --rounds more samples to
every cell of the row (the mean is over all of them); with --quiet 0.9 each pass first waits (up
to --patience seconds) until the other processes leave 90% of the CPU idle. A row shows the idle share each of
its passes started with.
"""
import argparse
import io
import json
import os
import pathlib
import statistics
import sys
import tempfile
import threading
import time

KEYS = pathlib.Path(__file__).resolve().parent.parent / "fuzz" / "keys"
SIZES = [64, 1 << 10, 4 << 10, 16 << 10, 64 << 10, 256 << 10, 1 << 20]
QUICK_SIZES = [64, 4 << 10, 1 << 20]
ITERATIONS = [1, 10, 100, 1000, 20000]  # PBKDF2's "size"
QUICK_ITERATIONS = [1, 20000]
SLOW_CALL_US = 50


def size_label(n):
    if n >= 1 << 20:
        return f"{n >> 20} MiB"
    if n >= 1 << 10:
        return f"{n >> 10} KiB"
    return f"{n} B"


def throughput(fn, threads, seconds, calls=None):
    """Calls per second of fn() on `threads` threads together, over about `seconds` (or `calls`
    calls on each thread)."""
    stop = False
    counts = [0] * threads
    ends = [0.0] * threads
    start_line = threading.Barrier(threads + 1)

    def work(i):
        start_line.wait()
        n = 0
        while not stop and n != calls:
            fn()
            n += 1
        counts[i] = n
        ends[i] = time.perf_counter()

    pool = [threading.Thread(target=work, args=(i,)) for i in range(threads)]
    for t in pool:
        t.start()
    start_line.wait()
    start = time.perf_counter()
    if calls is None:
        time.sleep(seconds)
        stop = True
    for t in pool:
        t.join()
    return sum(counts) / (max(ends) - start)


# ---- the operations: (family, label, size, make) where make() returns the call to time ------------

def aes_rows(sizes):
    from tesmar.aes import core as aes

    key = "a bench key text"
    for n in sizes:
        data = os.urandom(n)
        blob = aes.encrypt_bytes(data, key)
        yield "aes", "encrypt_bytes", n, lambda d=data: aes.encrypt_bytes(d, key)
        yield "aes", "decrypt_bytes", n, lambda b=blob: aes.decrypt_bytes(b, key)


def pem_pair():
    return (KEYS / "rsa_public.pem").read_text(), (KEYS / "rsa_private.pem").read_text()


def envelope_rows(family, decrypt, sizes):
    """Data encryption and decryption under the shared RSA pair: the hybrid core or the RSA core."""
    import importlib

    core = importlib.import_module(f"tesmar.{family}.core")
    encrypt, opened = core.encrypt_bytes, getattr(core, decrypt)
    public, private = pem_pair()
    for n in sizes:
        data = os.urandom(n)
        blob = encrypt(data, public)
        yield family, "encrypt_bytes", n, lambda d=data: encrypt(d, public)
        yield family, decrypt, n, lambda b=blob: opened(b, private)


def hybrid_rows(sizes):
    return envelope_rows("hybrid", "decrypt_auto", sizes)


def rsa_rows(sizes):
    return envelope_rows("rsa", "decrypt_bytes", sizes)


def peer_rows(sizes):
    """Not ours, not judged: what this machine and interpreter allow. hashlib lets the GIL go from
    2 KiB, so its 1 MiB row is two cores' worth of native work with almost no Python between; pyca
    cryptography's AES-GCM is the same work as ours behind another GIL policy."""
    import hashlib

    from cryptography.hazmat.primitives.ciphers.aead import AESGCM

    aead, nonce = AESGCM(bytes(32)), bytes(12)
    for n in sizes:
        data = os.urandom(n)
        yield "peer", "hashlib sha256", n, lambda d=data: hashlib.sha256(d).digest()
        yield "peer", "pyca AESGCM encrypt", n, lambda d=data: aead.encrypt(nonce, d, None)


class Sink(io.RawIOBase):
    """A write-only target that keeps nothing."""

    def writable(self):
        return True

    def write(self, b):
        return len(b)


def files_rows(sizes):
    from tesmar.files import core as files

    # Decrypted output waits in an anonymous temporary file until the tag checks: in memory here,
    # so the disk does not set the rate.
    if os.path.isdir("/dev/shm"):
        tempfile.tempdir = "/dev/shm"
    public, private = pem_pair()
    key = "a bench key text"
    for n in sizes:
        data = os.urandom(n)
        for fam, enc, dec, ek, dk in (("aes", files.aes_encrypt_file, files.aes_decrypt_file, key, key),
                                      ("hybrid", files.hybrid_encrypt_file, files.hybrid_decrypt_file,
                                       public, private)):
            sealed = io.BytesIO()
            enc(io.BytesIO(data), sealed, ek)
            blob = sealed.getvalue()
            yield "files", f"{fam}_encrypt_file", n, lambda d=data, f=enc, k=ek: f(io.BytesIO(d), Sink(), k)
            yield "files", f"{fam}_decrypt_file", n, lambda b=blob, f=dec, k=dk: f(io.BytesIO(b), Sink(), k)


def password_rows(iterations):
    from tesmar.password import core as password

    pw = "correct horse battery staple"
    for n in iterations:
        record = password.hash_password(pw, n)
        yield "password", "hash_password", n, lambda i=n: password.hash_password(pw, i)
        yield "password", "verify_password", n, lambda r=record: password.verify_password(pw, r)


def quantum_rows(sizes):
    from tesmar.quantum import core as quantum

    for scheme in (2, 4, 5, 6, 7, 8):
        public, private = quantum.generate_keypair(scheme, 2 if scheme == 4 else 0)
        for n in sizes:
            text = "q" * n
            secret, message = quantum.encrypt(text, public)
            yield "quantum", f"scheme {scheme} encrypt", n, lambda t=text, k=public: quantum.encrypt(t, k)
            yield ("quantum", f"scheme {scheme} decrypt", n,
                   lambda m=message, k=private, s=secret: quantum.decrypt(m, k, s))


def signature_rows(sizes):
    from tesmar.quantum import core as quantum

    for algorithm, name in ((1, "ML-DSA"), (2, "SLH-DSA")):
        for strength in (0, 1, 2):
            public = (KEYS / f"signature_{algorithm}_{strength}.pub").read_bytes()
            private = (KEYS / f"signature_{algorithm}_{strength}.sk").read_bytes()
            for n in sizes:
                data = os.urandom(n)
                signature = quantum.sign(data, private)
                label = f"{name} s{strength}"
                yield "signature", f"{label} sign", n, lambda d=data, k=private: quantum.sign(d, k)
                yield ("signature", f"{label} verify", n,
                       lambda d=data, s=signature, k=public: quantum.verify(d, s, k))


FAMILIES = {"aes": aes_rows, "hybrid": hybrid_rows, "rsa": rsa_rows, "files": files_rows,
            "password": password_rows, "quantum": quantum_rows, "signature": signature_rows,
            "peer": peer_rows}


def rows(families, quick):
    for name in families:
        if name == "password":
            yield from password_rows(QUICK_ITERATIONS if quick else ITERATIONS)
        else:
            yield from FAMILIES[name](QUICK_SIZES if quick else SIZES)


# ---- measuring and printing -----------------------------------------------------------------

def cpu_idle(seconds):
    """The share of the machine's CPU time that was idle over the next `seconds` (Linux), else None."""
    def ticks():
        with open("/proc/stat") as f:
            values = [int(v) for v in f.readline().split()[1:]]
        return values[3] + values[4], sum(values)  # idle and I/O wait, all

    try:
        idle0, all0 = ticks()
        time.sleep(seconds)
        idle1, all1 = ticks()
    except OSError:
        return None
    return (idle1 - idle0) / max(1, all1 - all0)


def wait_for_quiet(share, patience):
    """Waits (up to `patience` seconds) until the other processes leave `share` of the CPU idle;
    returns the idle share last seen."""
    deadline = time.monotonic() + patience
    while True:
        idle = cpu_idle(0.3)
        if idle is None or idle >= share or time.monotonic() >= deadline:
            return idle

def call_seconds(fn):
    """One call's time (the best of a few), to size the cells."""
    fn()
    best = float("inf")
    for _ in range(3):
        t = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t)
    return best


def ratio(samples, a, b):
    """b threads' rate over a threads': the ratio of the mean rates, and its standard error, taken
    from the ratios within each round (None from fewer than two rounds)."""
    value = statistics.fmean(samples[b]) / statistics.fmean(samples[a])
    rounds = [y / x for x, y in zip(samples[a], samples[b])]
    return value, statistics.stdev(rounds) / len(rounds) ** 0.5 if len(rounds) > 1 else None


def verdict(call_us, ratios):
    """"meets" the goal, "miss" (short of it by more than twice the standard error), "noise" (short
    by less: more samples may tell), or None when the thread counts it needs were not measured.
    call_us: the time of one call on one thread; ratios: {(a, b): (ratio, error or None)}."""
    goals = {(1, 2): 1.8 if call_us >= SLOW_CALL_US else 0.95, (2, 4): 0.95}
    if not all(k in ratios for k in goals):
        return None
    short = [(ratios[k], goal) for k, goal in goals.items() if ratios[k][0] < goal]
    if not short:
        return "meets"
    return "miss" if any(err is None or value + 2 * err < goal for (value, err), goal in short) else "noise"


def measure(fn, thread_counts, seconds, rounds, calls, samples):
    """Adds `rounds` samples of every thread count to `samples` ({count: [rates]}), the counts
    interleaved and their order turned each round."""
    for r in range(rounds):
        turn = r % len(thread_counts)
        for n in thread_counts[turn:] + thread_counts[:turn]:
            samples.setdefault(n, []).append(throughput(fn, n, seconds, calls))


def rate_text(calls, size, family):
    if family == "password" or calls < 100:
        return f"{calls:>10,.1f}/s"
    if size >= 16 << 10:
        gbs = calls * size / 1e9
        return f"{gbs:7.2f} GB/s" if gbs >= 1 else f"{gbs * 1e3:7.1f} MB/s"
    if calls >= 1e5:
        return f"{calls / 1e6:7.2f} M/s "
    return f"{calls / 1e3:7.2f} k/s "


class Row:
    def __init__(self, family, label, size, fn):
        self.family, self.label, self.size, self.fn = family, label, size, fn
        self.name = f"{family} {label}"
        self.key = f"{self.name} {size}"
        self.size_text = f"{size:,} it." if family == "password" else size_label(size)
        self.samples, self.rates, self.idle, self.passes = {}, {}, [], 0
        self.call_us = None

    def measure(self, thread_counts, seconds, rounds, calls, quiet):
        if quiet:
            self.idle.append(wait_for_quiet(*quiet))
        if self.call_us is None:
            self.call_us = call_seconds(self.fn) * 1e6
        cell = max(seconds, min(2.0, 6 * self.call_us / 1e6))
        measure(self.fn, thread_counts, cell, rounds, calls, self.samples)
        self.passes += 1
        self.rates = {n: statistics.fmean(s) for n, s in self.samples.items()}
        self.ratios = {(a, b): ratio(self.samples, a, b) for a, b in ((1, 2), (2, 4))
                       if {a, b} <= set(self.samples)}
        if 1 in self.rates:
            self.call_us = 1e6 / self.rates[1]

    def verdict(self):
        return None if self.family == "peer" else verdict(self.call_us, self.ratios)

    def line(self, thread_counts, against, judge=True):
        rates = self.rates
        line = f"{self.name:<32} {self.size_text:>7} {self.call_us:9.1f}"
        line += "".join(f" {rate_text(rates[n], self.size, self.family):>13}" for n in thread_counts)
        for pair in ((1, 2), (2, 4)):
            if pair in self.ratios:
                value, err = self.ratios[pair]
                line += f" {value:5.2f}x" + (f"±{err:.2f}" if err is not None else " " * 5)
        if self.key in against and 1 in rates:
            other = against[self.key]["1"]
            line += f" {rate_text(other, self.size, self.family):>15} {rates[1] / other:5.2f}x"
        if judge:
            line += {"miss": "  MISS", "noise": "  short, within noise"}.get(self.verdict(), "")
        if self.passes > 1:
            line += f"  ({self.passes} passes, {len(self.samples[thread_counts[0]])} samples)"
        if self.idle and None not in self.idle:
            line += "  idle " + "/".join(f"{i:.0%}" for i in self.idle)
        return line


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("families", nargs="*", default=list(FAMILIES))
    parser.add_argument("--quick", action="store_true", help="three sizes, fewer rounds")
    parser.add_argument("--seconds", type=float, default=None, help="length of one cell")
    parser.add_argument("--threads", default="1,2,4")
    parser.add_argument("--rounds", type=int, default=None, help="samples of each cell (7; --quick 3)")
    parser.add_argument("--passes", type=int, default=0, help="after the first pass, this many more over the "
                        "rows that still miss the goal (each adds --rounds samples; waits for --quiet first, when given)")
    parser.add_argument("--quiet", type=float, metavar="SHARE", help="in the passes after the first, before "
                        "each row, wait until this share of the CPU is idle (0.9: the other "
                        "processes use under a tenth)")
    parser.add_argument("--patience", type=float, default=30, help="the longest wait for --quiet, in seconds")
    parser.add_argument("--calls", type=int, help="a fixed number of calls on each thread instead of a "
                        "time (the workloads without the timing, for make tsan)")
    parser.add_argument("--save")
    parser.add_argument("--against")
    args = parser.parse_args(argv)
    unknown = set(args.families) - set(FAMILIES)
    if unknown:
        parser.error(f"unknown families: {' '.join(sorted(unknown))}")
    seconds = args.seconds or (0.05 if args.quick else 0.1)
    rounds = args.rounds or (3 if args.quick else 7)
    thread_counts = [int(n) for n in args.threads.split(",")]
    against = json.loads(pathlib.Path(args.against).read_text()) if args.against else {}
    quiet = (args.quiet, args.patience) if args.quiet else None
    rounds = 1 if args.calls else rounds

    print(f"{os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f}; cells of {seconds:g} s, "
          f"each the mean of {rounds} interleaved samples")
    head = f"{'operation':<32} {'size':>7} {'us/call':>9}"
    head += "".join(f" {f'{n} thread' + ('s' if n > 1 else ''):>13}" for n in thread_counts)
    if {1, 2} <= set(thread_counts):
        head += f" {'2/1':>6}{'±':>5}"
    if {2, 4} <= set(thread_counts):
        head += f" {'4/2':>6}{'±':>5}"
    if against:
        head += f" {'1 thread, other':>15} {'ratio':>6}"
    print(head)
    started = time.perf_counter()
    table = []
    for family, label, size, fn in rows(args.families, args.quick):
        row = Row(family, label, size, fn)
        # The first pass only notes how quiet the machine was; the passes after it wait for quiet.
        row.measure(thread_counts, seconds, rounds, args.calls, quiet and (args.quiet, 0))
        if args.calls:
            row.rates = {n: row.rates[n] for n in thread_counts}
        print(row.line(thread_counts, against if not args.calls else {}, judge=not args.calls), flush=True)
        table.append(row)
    for n in range(args.passes):
        again = [row for row in table if row.verdict() in ("miss", "noise")]
        if not again:
            break
        print(f"-- pass {n + 2}: {len(again)} rows again, load average {os.getloadavg()[0]:.2f}", flush=True)
        for row in again:
            row.measure(thread_counts, seconds, rounds, args.calls, quiet)
            print(row.line(thread_counts, against), flush=True)
    short = {state: [f"{row.name} {row.size_text}" for row in table if row.verdict() == state]
             for state in ("miss", "noise")}
    if args.passes:
        print("-- all rows, the means over every pass:")
        for row in table:
            print(row.line(thread_counts, against))
    summary = f"{len(table)} rows in {time.perf_counter() - started:.0f} s, load average now {os.getloadavg()[0]:.2f}"
    if not args.calls:
        listed = {state: f": {', '.join(names)}" if names else "" for state, names in short.items()}
        summary += (f"; goal missed by {len(short['miss'])} rows{listed['miss']}; short of it within the noise (by"
                    f" less than twice the standard error): {len(short['noise'])} rows{listed['noise']}")
    print(summary)
    if args.save:
        saved = {row.key: {str(n): r for n, r in row.rates.items()} | {"us": row.call_us} for row in table}
        pathlib.Path(args.save).write_text(json.dumps(saved, indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
