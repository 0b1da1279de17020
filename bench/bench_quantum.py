"""Post-quantum family: scheme 8 (X25519 + ML-KEM-1024) on 1 KiB and ML-DSA-87 signatures.

Each operation is compared with the same construction assembled by hand in Python (pyca
cryptography for X25519, HKDF and AES-GCM, liboqs through ctypes), and its cost outside liboqs is
reported: tesmar's time per call minus the time of the bare liboqs calls it makes.
"""
import ctypes
import os

from common import rate, row

from tesmar.quantum import _oqs, core


class _Kem(ctypes.Structure):
    _fields_ = [("method_name", ctypes.c_char_p), ("alg_version", ctypes.c_char_p),
                ("claimed_nist_level", ctypes.c_uint8), ("ind_cca", ctypes.c_bool),
                ("length_public_key", ctypes.c_size_t), ("length_secret_key", ctypes.c_size_t),
                ("length_ciphertext", ctypes.c_size_t), ("length_shared_secret", ctypes.c_size_t)]


class _Sig(ctypes.Structure):
    _fields_ = [("method_name", ctypes.c_char_p), ("alg_version", ctypes.c_char_p),
                ("claimed_nist_level", ctypes.c_uint8), ("euf_cma", ctypes.c_bool), ("suf_cma", ctypes.c_bool),
                ("sig_with_ctx_support", ctypes.c_bool), ("length_public_key", ctypes.c_size_t),
                ("length_secret_key", ctypes.c_size_t), ("length_signature", ctypes.c_size_t)]


class Liboqs:
    """The bare liboqs calls, through ctypes, with the objects and buffers made once."""

    def __init__(self, path):
        lib = ctypes.CDLL(path)
        lib.OQS_KEM_new.restype = ctypes.POINTER(_Kem)
        lib.OQS_SIG_new.restype = ctypes.POINTER(_Sig)
        self.lib = lib
        self.kem = lib.OQS_KEM_new(b"ML-KEM-1024")
        self.sig = lib.OQS_SIG_new(b"ML-DSA-87")
        k, s = self.kem.contents, self.sig.contents
        self.kem_pk = ctypes.create_string_buffer(k.length_public_key)
        self.kem_sk = ctypes.create_string_buffer(k.length_secret_key)
        self.ct = ctypes.create_string_buffer(k.length_ciphertext)
        self.ss = ctypes.create_string_buffer(k.length_shared_secret)
        self.sig_pk = ctypes.create_string_buffer(s.length_public_key)
        self.sig_sk = ctypes.create_string_buffer(s.length_secret_key)
        self.signature = ctypes.create_string_buffer(s.length_signature)
        self.sig_len = ctypes.c_size_t(0)
        lib.OQS_KEM_keypair(self.kem, self.kem_pk, self.kem_sk)
        lib.OQS_SIG_keypair(self.sig, self.sig_pk, self.sig_sk)

    def encaps(self):
        self.lib.OQS_KEM_encaps(self.kem, self.ct, self.ss, self.kem_pk)

    def decaps(self, ciphertext=None):
        if ciphertext is not None:
            ctypes.memmove(self.ct, ciphertext, len(ciphertext))
        self.lib.OQS_KEM_decaps(self.kem, self.ss, self.ct, self.kem_sk)

    def sign(self, message):
        self.lib.OQS_SIG_sign(self.sig, self.signature, ctypes.byref(self.sig_len), message, len(message),
                              self.sig_sk)

    def verify(self, message):
        self.lib.OQS_SIG_verify(self.sig, message, len(message), self.signature, self.sig_len, self.sig_pk)


def by_hand(oqs):
    """Scheme 8 assembled from pyca cryptography and liboqs through ctypes."""
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
    from cryptography.hazmat.primitives.ciphers.aead import AESGCM
    from cryptography.hazmat.primitives.kdf.hkdf import HKDF

    # Keys arrive as raw bytes on every call, as they do in tesmar's API.
    static = X25519PrivateKey.generate()
    static_priv, static_pub = static.private_bytes_raw(), static.public_key().public_bytes_raw()

    def encrypt(data):
        oqs.encaps()
        eph = X25519PrivateKey.generate()
        x_ss = eph.exchange(X25519PublicKey.from_public_bytes(static_pub))
        salt, nonce = os.urandom(32), os.urandom(12)
        key = HKDF(hashes.SHA256(), 32, salt, b"Gen8-Hybrid-X25519-MLKEM").derive(x_ss + oqs.ss.raw)
        sealed = AESGCM(key).encrypt(nonce, data, None)
        capsule = len(oqs.ct.raw).to_bytes(4, "little") + oqs.ct.raw + eph.public_key().public_bytes_raw()
        return capsule, salt + nonce + sealed

    def decrypt(capsule, enc):
        oqs.decaps(capsule[4:-32])
        own = X25519PrivateKey.from_private_bytes(static_priv)
        x_ss = own.exchange(X25519PublicKey.from_public_bytes(capsule[-32:]))
        key = HKDF(hashes.SHA256(), 32, enc[:32], b"Gen8-Hybrid-X25519-MLKEM").derive(x_ss + oqs.ss.raw)
        return AESGCM(key).decrypt(enc[32:44], enc[44:], None)

    return encrypt, decrypt


def overhead(label, ours, bare):
    print(f"  {label:<40} outside liboqs {1e6 / ours - 1e6 / bare:9.1f} us/call"
          f"   (tesmar {1e6 / ours:9.1f} us, liboqs alone {1e6 / bare:9.1f} us)")


def main():
    lib = _oqs._oqs()
    print(f"  liboqs {lib.version} at {lib.path}")
    oqs = Liboqs(lib.path)
    text = "x" * 1024
    data = text.encode()

    public, private = core.generate_keypair(8, 2)
    secret, enc = core.encrypt(text, public)
    hand_encrypt, hand_decrypt = by_hand(oqs)
    hand_capsule, hand_enc = hand_encrypt(data)

    ours = rate(lambda: core.encrypt(text, public))
    row("scheme 8 encrypt, 1 KiB", ours, rate(lambda: hand_encrypt(data)))
    overhead("scheme 8 encrypt, 1 KiB", ours, rate(oqs.encaps))
    ours = rate(lambda: core.decrypt(enc, private, secret))
    row("scheme 8 decrypt, 1 KiB", ours, rate(lambda: hand_decrypt(hand_capsule, hand_enc)))
    overhead("scheme 8 decrypt, 1 KiB", ours, rate(oqs.decaps))

    sig_public, sig_private = core.generate_signature_keypair()
    signature = core.sign(data, sig_private)
    oqs.sign(data)
    ours = rate(lambda: core.sign(data, sig_private))
    overhead("ML-DSA-87 sign, 1 KiB", ours, rate(lambda: oqs.sign(data)))
    ours = rate(lambda: core.verify(data, signature, sig_public))
    overhead("ML-DSA-87 verify, 1 KiB", ours, rate(lambda: oqs.verify(data)))


if __name__ == "__main__":
    main()
