"""RSA and hybrid envelope: tesmar against the same work written in Python over pyca cryptography.

Both sides get PEM text and parse it on every call. pyca validates a loaded RSA private key unless
told not to (unsafe_skip_rsa_key_validation=True), which dominates its private-key operations, so
private-key rows are printed against both of its figures.
"""
import os
import threading
import time

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

from tesmar.hybrid import core as hybrid_core
from tesmar.rsa import core as rsa_core

try:
    from common import rate as _rate, row
except ImportError:  # run from elsewhere
    from bench.common import rate as _rate, row


def rate(fn, min_time=0.3, min_calls=3, repeats=3):
    """The best of a few rates: the machine is shared, and a slow run says nothing about the code."""
    return max(_rate(fn, min_time=min_time, min_calls=min_calls) for _ in range(repeats))

OAEP = padding.OAEP(mgf=padding.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)


def pss():
    return padding.PSS(mgf=padding.MGF1(hashes.SHA256()), salt_length=32)


class Pyca:
    """The operations as a Python program over pyca would write them."""

    def __init__(self, skip_validation):
        self.skip = skip_validation

    def private(self, pem):
        return serialization.load_pem_private_key(pem.encode("ascii"), None,
                                                  unsafe_skip_rsa_key_validation=self.skip)

    @staticmethod
    def public(pem):
        return serialization.load_pem_public_key(pem.encode("ascii"))

    def decrypt_oaep(self, blob, pem):
        return self.private(pem).decrypt(blob, OAEP)

    def sign(self, data, pem):
        return self.private(pem).sign(data, pss(), hashes.SHA256())

    @staticmethod
    def encrypt_oaep(data, pem):
        return Pyca.public(pem).encrypt(data, OAEP)

    @staticmethod
    def verify(data, signature, pem):
        try:
            Pyca.public(pem).verify(signature, data, pss(), hashes.SHA256())
            return True
        except InvalidSignature:
            return False

    @staticmethod
    def hybrid_encrypt(data, pem):
        key = os.urandom(32)
        wrapped = Pyca.public(pem).encrypt(key, OAEP)
        nonce = os.urandom(12)
        sealed = AESGCM(key).encrypt(nonce, data, None)
        return len(wrapped).to_bytes(4, "little") + wrapped + nonce + sealed[-16:] + sealed[:-16]

    def hybrid_decrypt(self, blob, pem):
        if len(blob) >= 544 and int.from_bytes(blob[:4], "little") == 512:
            key = self.private(pem).decrypt(blob[4:516], OAEP)
            return AESGCM(key).decrypt(blob[516:528], blob[544:] + blob[528:544], None)
        raise ValueError("only the length-prefixed layout is benchmarked")

    @staticmethod
    def new_key_pair():
        key = rsa.generate_private_key(65537, 4096)
        private = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()).decode("ascii")
        public = key.public_key().public_bytes(serialization.Encoding.PEM,
                                               serialization.PublicFormat.SubjectPublicKeyInfo).decode("ascii")
        return private, public


def private_rows(label, ours, theirs_default, theirs_skip):
    mine = rate(ours)
    row(f"{label} (pyca default)", mine, rate(theirs_default, min_calls=2, repeats=1))
    row(f"{label} (pyca skip)", mine, rate(theirs_skip))


def parallelism(fn, n=4):
    """n calls on n threads: the CPU time they used divided by the wall time they took.

    Key generation times vary a lot from call to call (prime search), so comparing against other
    calls made in a row is noisy; the CPU time of the very same calls is not. About 1.0 means the
    calls ran one at a time, about the number of cores means they ran together.
    """
    cpu = []

    def work():
        start = time.thread_time()
        fn()
        cpu.append(time.thread_time() - start)

    threads = [threading.Thread(target=work) for _ in range(n)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return sum(cpu) / (time.perf_counter() - start)


def main():
    private_pem, public_pem = rsa_core.new_key_pair()
    default, skip = Pyca(False), Pyca(True)
    small, kib, mib = os.urandom(32), os.urandom(1024), os.urandom(1 << 20)

    # Key generation times vary widely (prime search), so take several seconds of each.
    row("new_key_pair", 60 * rate(rsa_core.new_key_pair, min_time=4, repeats=1),
        60 * rate(Pyca.new_key_pair, min_time=4, repeats=1), unit="calls/min")
    print(f"  {'new_key_pair x4 on 4 threads':<40} CPU time / wall time {parallelism(rsa_core.new_key_pair):.2f}"
          f" (cores: {os.cpu_count()})")

    row("_encrypt_oaep 32 B", rate(lambda: rsa_core._encrypt_oaep(small, public_pem)),
        rate(lambda: Pyca.encrypt_oaep(small, public_pem)))
    block = rsa_core._encrypt_oaep(small, public_pem)
    private_rows("_decrypt_oaep 32 B", lambda: rsa_core._decrypt_oaep(block, private_pem),
                 lambda: default.decrypt_oaep(block, private_pem), lambda: skip.decrypt_oaep(block, private_pem))

    private_rows("sign_bytes 1 KiB", lambda: rsa_core.sign_bytes(kib, private_pem),
                 lambda: default.sign(kib, private_pem), lambda: skip.sign(kib, private_pem))
    signature = rsa_core.sign_bytes(kib, private_pem)
    assert rsa_core.verify_bytes(kib, signature, public_pem) and Pyca.verify(kib, signature, public_pem)
    row("verify_bytes 1 KiB", rate(lambda: rsa_core.verify_bytes(kib, signature, public_pem)),
        rate(lambda: Pyca.verify(kib, signature, public_pem)))

    for label, data in [("1 KiB", kib), ("1 MiB", mib)]:
        row(f"hybrid encrypt_bytes {label}", rate(lambda: hybrid_core.encrypt_bytes(data, public_pem)),
            rate(lambda: Pyca.hybrid_encrypt(data, public_pem)))
        blob = hybrid_core.encrypt_bytes(data, public_pem)
        assert skip.hybrid_decrypt(blob, private_pem) == data
        private_rows(f"hybrid decrypt_auto {label}", lambda: hybrid_core.decrypt_auto(blob, private_pem),
                     lambda: default.hybrid_decrypt(blob, private_pem),
                     lambda: skip.hybrid_decrypt(blob, private_pem))


if __name__ == "__main__":
    main()
