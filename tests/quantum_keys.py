"""Post-quantum key material shared by the quantum test modules, made once per test session.

Classic McEliece and RSA-4096 key generation are slow with a real liboqs, so every test that only
needs *a* key of some scheme and strength takes it from here.
"""
import ctypes
import functools

import pytest

import emulation

from tesmar.quantum import _oqs, core

MLKEM = ["ML-KEM-512", "ML-KEM-768", "ML-KEM-1024"]
FRODO = ["FrodoKEM-640-AES", "FrodoKEM-976-AES", "FrodoKEM-1344-AES"]
CMCE = ["Classic-McEliece-6688128", "Classic-McEliece-6960119", "Classic-McEliece-8192128"]

# (public key, secret key, ciphertext, shared secret) sizes of FIPS 203, FrodoKEM and Classic McEliece.
KEM_SIZES = {
    "ML-KEM-512": (800, 1632, 768, 32),
    "ML-KEM-768": (1184, 2400, 1088, 32),
    "ML-KEM-1024": (1568, 3168, 1568, 32),
    "FrodoKEM-640-AES": (9616, 19888, 9752, 16),
    "FrodoKEM-976-AES": (15632, 31296, 15792, 24),
    "FrodoKEM-1344-AES": (21520, 43088, 21696, 32),
    "Classic-McEliece-6688128": (1044992, 13932, 208, 32),
    "Classic-McEliece-6960119": (1047319, 13948, 194, 32),
    "Classic-McEliece-8192128": (1357824, 14120, 208, 32),
}


@functools.cache
def kem_pair(alg, variant=0):
    """A raw liboqs key pair of a mechanism; `variant` gives independent pairs."""
    if alg in CMCE and (kept := emulation.pair(f"{alg}-{variant}")):
        return kept
    return _oqs.generate_keypair(alg)


def _mechanism(scheme, strength):
    if scheme in (2, 5):
        return CMCE[strength]
    if scheme == 4:
        return FRODO[2]
    return FRODO[strength]


@functools.cache
def scheme_pair(scheme, strength, variant=0):
    """A (public, private) key pair of a scheme with headers, as generate_keypair lays them out.

    Schemes 2, 4, 5 and 6 reuse the raw KEM keys (2 and 5 share theirs); scheme 8 comes from
    generate_keypair; scheme 7 puts one RSA key beside the FrodoKEM keys of every strength.
    """
    if scheme == 8:
        return core.generate_keypair(8, strength)
    if scheme == 7:
        return _gen7_pair(strength, variant)
    pk, sk = kem_pair(_mechanism(scheme, strength), variant)
    header = bytes([scheme, 2 if scheme == 4 else strength])
    return header + pk, header + sk


@functools.cache
def gen7_generated(variant=0):
    """A scheme-7 pair from generate_keypair (strength 2): one RSA-4096 key generation each."""
    return emulation.pair(f"gen7-{variant}") or core.generate_keypair(7, 2)


def _rsa_parts(variant):
    pub, priv = gen7_generated(variant)
    return _split7(pub[2:]), _split7(priv[2:])


def _split7(raw):
    r = int.from_bytes(raw[:4], "little")
    return raw[: 4 + r], raw[4 + r :]


def _gen7_pair(strength, variant):
    if strength == 2:
        return gen7_generated(variant)
    (rsa_pub, _), (rsa_priv, _) = _rsa_parts(variant)
    frodo_pk, frodo_sk = kem_pair(FRODO[strength], variant)
    header = bytes([7, strength])
    return header + rsa_pub + frodo_pk, header + rsa_priv + frodo_sk


def standin_controls():
    """The stand-in's switch for enabled signature names; skips under a real liboqs."""
    lib = ctypes.CDLL(_oqs._oqs().path)
    try:
        setter, reset = lib.OQS_STANDIN_set_sig_enabled, lib.OQS_STANDIN_reset
    except AttributeError:
        pytest.skip("needs the liboqs test stand-in (switching signature names on and off)")
    setter.argtypes = [ctypes.c_char_p, ctypes.c_int]
    setter.restype = ctypes.c_int

    def enable(name, on=True):
        assert setter(name.encode(), 1 if on else 0) == 0, name

    return enable, reset


def standin_faults():
    """The stand-in's switches for failure statuses and empty sizes; skips under a real liboqs."""
    lib = ctypes.CDLL(_oqs._oqs().path)
    try:
        failing, empty, reset = lib.OQS_STANDIN_set_failing, lib.OQS_STANDIN_set_empty_sizes, lib.OQS_STANDIN_reset
    except AttributeError:
        pytest.skip("needs the liboqs test stand-in (failure statuses and empty sizes on demand)")
    failing.argtypes = [ctypes.c_char_p, ctypes.c_int]
    failing.restype = ctypes.c_int
    empty.argtypes = [ctypes.c_int]

    def fail(function, on=True):
        assert failing(function.encode(), 1 if on else 0) == 0, function

    return fail, lambda on=True: empty(1 if on else 0), reset
