"""File encryption in pieces (tesmar.files) against the whole-buffer functions on one large file.

Each operation runs in a fresh interpreter that reports its time and its peak resident memory
above what it held after importing tesmar, so one run's buffers do not hide the next one's.
Both sides do the same reading and writing: the whole-buffer side reads the file, calls
encrypt_bytes or decrypt_bytes, and writes the result; its crypto-only time is printed too.

Usage: python bench/bench_files.py [--size-mib N] [--dir DIR]   (default 1024 MiB in the temp dir;
under bench/run.py the size comes from TESMAR_BENCH_FILE_MIB)
"""
import argparse
import os
import subprocess
import sys
import tempfile

CHILD = r"""
import resource, sys, time
from tesmar.aes import core as aes
from tesmar.hybrid import core as hybrid
from tesmar.files import core as files
from tesmar.rsa import core as rsa
op, src, dst, key = sys.argv[1:5]
if key.endswith(".pem"):
    key = open(key).read()
base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
start = time.perf_counter()
crypto = None
if op.startswith("mem_"):
    with open(src, "rb") as f:
        data = f.read()
    t = time.perf_counter()
    fn = {"mem_aes_enc": aes.encrypt_bytes, "mem_aes_dec": aes.decrypt_bytes,
          "mem_hyb_enc": hybrid.encrypt_bytes, "mem_hyb_dec": hybrid.decrypt_auto}[op]
    out = fn(data, key)
    crypto = time.perf_counter() - t
    del data
    with open(dst, "wb") as f:
        f.write(out)
else:
    fn = {"file_aes_enc": files.aes_encrypt_file, "file_aes_dec": files.aes_decrypt_file,
          "file_hyb_enc": files.hybrid_encrypt_file, "file_hyb_dec": files.hybrid_decrypt_file}[op]
    fn(src, dst, key)
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(elapsed, crypto if crypto is not None else -1, (peak - base) * 1024)
"""


def run(op, src, dst, key):
    out = subprocess.run([sys.executable, "-c", CHILD, op, src, dst, key], capture_output=True, text=True,
                         check=True)
    elapsed, crypto, growth = out.stdout.split()
    return float(elapsed), float(crypto), int(growth)


def fill(path, size):
    block = os.urandom(1 << 20)
    with open(path, "wb") as f:
        for _ in range(size >> 20):
            f.write(block)


def same(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 22), fb.read(1 << 22)
            if x != y:
                return False
            if not x:
                return True


class _Sink:
    """A write-only stream that keeps nothing (and cannot seek, so the hybrid layout spools)."""

    def write(self, b):
        return len(b)

    def seekable(self):
        return False


def no_disk(size):
    """The pieces' own cost: the file functions over memory (a stream in, a stream or a file in
    /dev/shm out) against the whole-buffer call."""
    import io
    import time

    from tesmar.aes import core as aes
    from tesmar.files import core as files

    data = os.urandom(size)
    blob = aes.encrypt_bytes(data, "k")
    shm_dir = tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    shm = shm_dir.name
    for label, whole, piecewise, arg in (("AES-GCM encrypt", aes.encrypt_bytes, files.aes_encrypt_file, data),
                                         ("AES-GCM decrypt", aes.decrypt_bytes, files.aes_decrypt_file, blob)):
        t = time.perf_counter()
        whole(arg, "k")
        mem_t = time.perf_counter() - t
        t = time.perf_counter()
        # Decrypted output waits in a file until the tag checks: here one in shared memory.
        target = _Sink() if "encrypt" in label else os.path.join(shm, "plain")
        piecewise(io.BytesIO(arg), target, "k")
        file_t = time.perf_counter() - t
        print(f"  {label:<16} memory        {size / file_t / 1e6:7,.0f} MB/s   whole-buffer "
              f"{size / mem_t / 1e6:7,.0f} MB/s   ratio {mem_t / file_t:4.2f}x")
    shm_dir.cleanup()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mib", type=int, default=int(os.environ.get("TESMAR_BENCH_FILE_MIB", "1024")))
    parser.add_argument("--dir", default=None)
    args = parser.parse_args(argv if argv is not None else [])
    from tesmar.rsa import core as rsa

    size = args.size_mib << 20
    with tempfile.TemporaryDirectory(dir=args.dir) as d:
        plain, sealed, back = (os.path.join(d, n) for n in ("plain", "sealed", "back"))
        fill(plain, size)
        private_pem, public_pem = rsa.new_key_pair()
        for name, text in (("priv.pem", private_pem), ("pub.pem", public_pem)):
            with open(os.path.join(d, name), "w") as f:
                f.write(text)
        print(f"  file of {args.size_mib} MiB; time includes reading and writing on both sides")
        families = [("aes", "a bench key text", "a bench key text"),
                    ("hyb", os.path.join(d, "pub.pem"), os.path.join(d, "priv.pem"))]
        for fam, enc_key, dec_key in families:
            for step, src, dst, key in (("enc", plain, sealed, enc_key), ("dec", sealed, back, dec_key)):
                mem_t, crypto_t, mem_rss = run(f"mem_{fam}_{step}", src, dst, key)
                if step == "dec":
                    assert same(plain, back), "whole-buffer round trip differs"
                file_t, _, file_rss = run(f"file_{fam}_{step}", src, dst, key)
                if step == "dec":
                    # The file function read what the whole-buffer function wrote, and the
                    # encryption below is read back by the whole-buffer function next round.
                    assert same(plain, back), "file function round trip differs"
                label = {"aes": "AES-GCM", "hyb": "hybrid"}[fam] + (" encrypt" if step == "enc" else " decrypt")
                mbps = lambda t: size / t / 1e6  # noqa: E731
                print(f"  {label:<16} file {mbps(file_t):7,.0f} MB/s, +{file_rss / 2**20:6.1f} MiB peak   "
                      f"whole-buffer {mbps(mem_t):7,.0f} MB/s ({mbps(crypto_t):,.0f} MB/s crypto only), "
                      f"+{mem_rss / 2**20:7.1f} MiB   ratio {mem_t / file_t:4.2f}x")
            # Bytes of the file function's output read back by the whole-buffer function.
            run(f"file_{fam}_enc", plain, sealed, enc_key)
            run(f"mem_{fam}_dec", sealed, back, dec_key)
            assert same(plain, back), "whole-buffer decryption of the file output differs"
    print(f"  without the disk, {min(args.size_mib, 256)} MiB:")
    no_disk(min(size, 256 << 20))


if __name__ == "__main__":
    main(sys.argv[1:])
