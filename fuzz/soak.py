"""Soak: threads of mixed operations of every family for a while, every result checked.

Usage: python fuzz/soak.py [seconds] [threads]    (`make soak`; SOAK_SECONDS, default 60, 8 threads)

Each operation is a round trip (what was encrypted decrypts to the same data, what was signed
verifies) followed by the same call on a tampered input, which must be refused: authentication
errors for the decryptions, False for the checks. Then 2,000 awaits of the coroutine API run
concurrently on one event loop, each checked the same way. Prints the operations and failures per
family; the exit status is 1 on any failure.
"""
import asyncio
import collections
import io
import os
import pathlib
import random
import sys
import threading
import time

KEYS = pathlib.Path(__file__).resolve().parent / "keys"
CONCURRENT_AWAITS = 2000


class Failed(Exception):
    pass


def tamper(rng, blob):
    """blob with one bit of one byte flipped."""
    spoilt = bytearray(blob)
    i = rng.randrange(len(spoilt))
    spoilt[i] ^= 1 << rng.randrange(8)
    return bytes(spoilt)


def refused(call, *kinds):
    try:
        call()
    except kinds:
        return
    except Exception as exc:  # noqa: BLE001 - reported as a failure
        raise Failed(f"a tampered input raised {exc!r}") from exc
    raise Failed("a tampered input was accepted")


class Material:
    """Keys made once and shared read-only by every thread."""

    def __init__(self):
        from tesmar.quantum import core as quantum

        self.private = (KEYS / "rsa_private.pem").read_text()
        self.public = (KEYS / "rsa_public.pem").read_text()
        self.kem = {scheme: quantum.generate_keypair(scheme, 2 if scheme == 4 else 0) for scheme in (2, 4, 5, 6, 7, 8)}
        self.sig = {(a, s): quantum.generate_signature_keypair(a, s) for a in (1, 2) for s in (0, 1, 2)}


def op_aes(rng, m):
    from tesmar.aes import core as aes
    from tesmar.errors import DecryptionError

    data = os.urandom(rng.randrange(1, 5000))
    key = rng.choice(["a passphrase", "q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA="])
    blob = aes.encrypt_bytes(data, key)
    if aes.decrypt_bytes(blob, key) != data:
        raise Failed("aes round trip")
    refused(lambda: aes.decrypt_bytes(tamper(rng, blob), key), DecryptionError)
    text = "soak ✓ " * rng.randrange(1, 50)
    if aes.decrypt_str(aes.encrypt_str(text, key), key) != text:
        raise Failed("aes text round trip")


def op_rsa(rng, m):
    from tesmar.errors import DecryptionError
    from tesmar.rsa import core as rsa

    data = os.urandom(rng.choice([1, 200, 446, 447, 3000]))
    blob = rsa.encrypt_bytes(data, m.public)
    if rsa.decrypt_bytes(blob, m.private) != data:
        raise Failed(f"rsa round trip of {len(data)} bytes")
    refused(lambda: rsa.decrypt_bytes(tamper(rng, blob), m.private), DecryptionError)
    signature = rsa.sign_bytes(data, m.private)
    if rsa.verify_bytes(data, signature, m.public) is not True:
        raise Failed("rsa signature does not verify")
    if rsa.verify_bytes(data, tamper(rng, signature), m.public) is not False:
        raise Failed("rsa tampered signature verifies")


def op_hybrid(rng, m):
    from tesmar.errors import DecryptionError
    from tesmar.hybrid import core as hybrid

    data = os.urandom(rng.randrange(1, 20000))
    blob = hybrid.encrypt_bytes(data, m.public)
    if hybrid.decrypt_auto(blob, m.private) != data:
        raise Failed("hybrid round trip")
    refused(lambda: hybrid.decrypt_auto(tamper(rng, blob), m.private), DecryptionError)


def op_password(rng, m):
    from tesmar.password import core as password

    pw = f"pw-{rng.random()}"
    record = password.hash_password(pw, rng.choice([1000, 2000]))
    if password.verify_password(pw, record) is not True:
        raise Failed("password does not verify")
    if password.verify_password(pw + "x", record) is not False:
        raise Failed("wrong password verifies")
    spoilt = record.replace('"hash":"', '"hash":"A', 1)
    if password.verify_password(pw, spoilt) is not False:
        raise Failed("tampered record verifies")
    if password.needs_rehash(record) is not True:  # fewer iterations than the default
        raise Failed("needs_rehash")


def op_quantum(rng, m):
    from tesmar.errors import DecryptionError, InvalidInputError, QuantumOperationError
    from tesmar.quantum import core as quantum

    scheme = rng.choice(sorted(m.kem))
    public, private = m.kem[scheme]
    text = f"quantum {rng.random()}" * rng.randrange(1, 20)
    secret, message = quantum.encrypt(text, public)
    if quantum.decrypt(message, private, secret) != text:
        raise Failed(f"quantum scheme {scheme} round trip")
    # Every byte of the message is authenticated; a changed length field in the secret may also
    # be refused as malformed before any authentication.
    refused(lambda: quantum.decrypt(tamper(rng, message), private, secret), DecryptionError)
    refused(lambda: quantum.decrypt(message, private, tamper(rng, secret)),
            DecryptionError, InvalidInputError, QuantumOperationError, ValueError)


def op_signature(rng, m):
    from tesmar.quantum import core as quantum

    key = rng.choice(sorted(m.sig))
    public, private = m.sig[key]
    data = os.urandom(rng.randrange(0, 300))
    signature = quantum.sign(data, private)
    if quantum.verify(data, signature, public) is not True:
        raise Failed(f"signature {key} does not verify")
    if quantum.verify(data, tamper(rng, signature), public) is not False:
        raise Failed(f"tampered signature {key} verifies")


def op_files(rng, m):
    from tesmar.errors import DecryptionError
    from tesmar.files import core as files

    data = os.urandom(rng.randrange(1, 100000))
    chunk = rng.choice([1000, 4096, 65536])
    sealed = io.BytesIO()
    files.aes_encrypt_file(io.BytesIO(data), sealed, "file key", chunk_size=chunk)
    opened = io.BytesIO()
    files.aes_decrypt_file(io.BytesIO(sealed.getvalue()), opened, "file key", chunk_size=chunk)
    if opened.getvalue() != data:
        raise Failed("files round trip")
    target = io.BytesIO()
    refused(lambda: files.aes_decrypt_file(io.BytesIO(tamper(rng, sealed.getvalue())), target, "file key"),
            DecryptionError)
    if target.getvalue():
        raise Failed("a tampered file let plaintext out")


OPERATIONS = {"aes": op_aes, "rsa": op_rsa, "hybrid": op_hybrid, "password": op_password,
              "quantum": op_quantum, "signature": op_signature, "files": op_files}


def soak(seconds, threads, material):
    counts = collections.Counter()
    failures = collections.Counter()
    messages = []
    lock = threading.Lock()
    deadline = time.monotonic() + seconds

    def worker(n):
        rng = random.Random(n)
        names = list(OPERATIONS)
        while time.monotonic() < deadline:
            name = rng.choice(names)
            try:
                OPERATIONS[name](rng, material)
                failed = None
            except Exception as exc:  # noqa: BLE001 - every failure is counted
                failed = f"{name}: {exc!r}"
            with lock:
                counts[name] += 1
                if failed:
                    failures[name] += 1
                    messages.append(failed)

    pool = [threading.Thread(target=worker, args=(n,)) for n in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join()
    return counts, failures, messages


async def awaits(material):
    """CONCURRENT_AWAITS coroutine calls at once, in a mix of families, each result checked."""
    import tesmar

    async def one(i):
        data = f"await {i}".encode()
        if i % 4 == 0:
            blob = await tesmar.aes.encrypt_bytes(data, "async key")
            return await tesmar.aes.decrypt_bytes(blob, "async key") == data
        if i % 4 == 1:
            blob = await tesmar.hybrid.encrypt_bytes(data, material.public)
            return await tesmar.hybrid.decrypt_bytes(blob, material.private) == data
        if i % 4 == 2:
            public, private = material.kem[8]
            secret, message = await tesmar.quantum.encrypt(data.decode(), public)
            return await tesmar.quantum.decrypt(message, private, secret) == data.decode()
        public, private = material.sig[(1, 0)]
        return await tesmar.quantum.verify(data, await tesmar.quantum.sign(data, private), public)

    results = await asyncio.gather(*(one(i) for i in range(CONCURRENT_AWAITS)), return_exceptions=True)
    return sum(r is not True for r in results), [r for r in results if isinstance(r, BaseException)][:5]


def main(argv):
    seconds = float(argv[0]) if argv else float(os.environ.get("SOAK_SECONDS", "60"))
    threads = int(argv[1]) if len(argv) > 1 else 8
    material = Material()
    started = time.monotonic()
    counts, failures, messages = soak(seconds, threads, material)
    elapsed = time.monotonic() - started
    print(f"soak: {threads} threads for {elapsed:.0f} s")
    print(f"{'family':<10} {'operations':>10} {'failures':>9}")
    for name in OPERATIONS:
        print(f"{name:<10} {counts[name]:>10} {failures[name]:>9}")
    print(f"{'total':<10} {sum(counts.values()):>10} {sum(failures.values()):>9}")
    for line in messages[:20]:
        print("FAILED", line)
    started = time.monotonic()
    bad, examples = asyncio.run(awaits(material))
    print(f"{CONCURRENT_AWAITS} concurrent awaits in {time.monotonic() - started:.1f} s: {bad} failed")
    for exc in examples:
        print("FAILED await:", repr(exc))
    return 1 if failures or bad or not all(counts[n] for n in OPERATIONS) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
