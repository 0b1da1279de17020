"""Post-quantum signatures with self-describing keys."""
import functools

import pytest

from tesmar.errors import InvalidInputError, QuantumOperationError
from tesmar.quantum import core
from tesmar.quantum.types import QuantumStrength, SignatureAlgorithm

# (public key, secret key, signature) sizes of FIPS 204 and FIPS 205 (SHA2 fast sets).
SIZES = {
    (1, 0): (1312, 2560, 2420), (1, 1): (1952, 4032, 3309), (1, 2): (2592, 4896, 4627),
    (2, 0): (32, 64, 17088), (2, 1): (48, 96, 35664), (2, 2): (64, 128, 49856),
}
DATA = b"signed data"


@functools.cache
def signed(algorithm, strength):
    public, private = core.generate_signature_keypair(algorithm, strength)
    return public, private, core.sign(DATA, private)


def test_defaults_are_ml_dsa_87():
    public, private = core.generate_signature_keypair()
    assert public[:2] == private[:2] == b"\x01\x02"
    assert len(public) == 2594
    signature = core.sign(b"", private)
    assert len(signature) == 4627
    assert core.verify(b"", signature, public) is True


@pytest.mark.parametrize("algorithm, strength", sorted(SIZES))
def test_sign_and_verify(algorithm, strength):
    public, private, signature = signed(algorithm, strength)
    pk_len, sk_len, sig_len = SIZES[algorithm, strength]
    assert public[:2] == private[:2] == bytes([algorithm, strength])
    assert (len(public), len(private), len(signature)) == (2 + pk_len, 2 + sk_len, sig_len)
    assert core.verify(DATA, signature, public) is True


@pytest.mark.parametrize("algorithm, strength", [(SignatureAlgorithm.SLH_DSA, QuantumStrength.STANDARD), (1, 1)])
@pytest.mark.parametrize(
    "change",
    [
        lambda d, s, p: (d + b"!", s, p),
        lambda d, s, p: (d, bytes([s[0] ^ 1]) + s[1:], p),
        lambda d, s, p: (d, s[:-1], p),
        lambda d, s, p: (d, s + b"\0", p),
        lambda d, s, p: (d, b"", p),
        lambda d, s, p: (d, s, p[:-1] + bytes([p[-1] ^ 1])),
        lambda d, s, p: (d, s, p[:-1]),
        lambda d, s, p: (d, s, p[:2] + p[3:] + b"\0"),
    ],
)
def test_any_change_gives_false(algorithm, strength, change):
    public, _, signature = signed(algorithm, strength)
    assert core.verify(*change(DATA, signature, public)) is False


@pytest.mark.parametrize("algorithm, strength", sorted(SIZES))
def test_every_wrong_length_and_wrong_bytes_give_false(algorithm, strength):
    # Each candidate is a fresh heap object of exactly its length (prefixes of a valid signature,
    # the most hostile bytes), so a verifier reading past the end is caught under AddressSanitizer.
    public, _, signature = signed(algorithm, strength)
    size = SIZES[algorithm, strength][2]
    extended = signature + b"\0"
    for n in range(1, size + 2):
        if n != size:
            assert core.verify(DATA, extended[:n], public) is False, n
    for i in (0, size // 2, size - 1):
        spoilt = bytearray(signature)
        spoilt[i] ^= 0x80
        assert core.verify(DATA, bytes(spoilt), public) is False, i


@pytest.mark.parametrize("other", [(2, 2), (1, 0), (1, 1)])
def test_signature_under_another_scheme_or_strength_is_false(other):
    _, _, signature = signed(1, 2)
    assert core.verify(DATA, signature, signed(*other)[0]) is False
    # The same raw key under another header names another mechanism.
    assert core.verify(DATA, signature, bytes(other) + signed(1, 2)[0][2:]) is False


@pytest.mark.parametrize("key", [b"", b"\x01", b"\x01\x02"])
def test_keys_without_raw_part(key):
    assert core.verify(DATA, b"sig", key) is False
    with pytest.raises(InvalidInputError, match="^Invalid signature private key: missing header$") as info:
        core.sign(DATA, key)
    assert info.value.__cause__ is None


@pytest.mark.parametrize("scheme", [0, 3, 255])
def test_unsupported_scheme_id(scheme):
    assert core.verify(DATA, b"sig", bytes([scheme, 2, 7])) is False
    with pytest.raises(InvalidInputError) as info:
        core.sign(DATA, bytes([scheme, 2, 7]))
    assert str(info.value) == f"Unsupported signature scheme id {scheme}"
    assert isinstance(info.value.__cause__, ValueError)


@pytest.mark.parametrize("scheme", [1, 2])
def test_strength_byte_without_mechanism_raises_key_error(scheme):
    with pytest.raises(KeyError):
        core.sign(DATA, bytes([scheme, 7, 1]))
    with pytest.raises(KeyError):
        core.verify(DATA, b"sig", bytes([scheme, 7, 1]))


@pytest.mark.parametrize(
    "algorithm, strength, names",
    [(3, 0, "SignatureAlgorithm"), (1, 3, "QuantumStrength"), (0, 9, "SignatureAlgorithm"), (2, -1, "QuantumStrength")],
)
def test_generate_refuses_unknown_values(algorithm, strength, names):
    with pytest.raises(ValueError, match=names):
        core.generate_signature_keypair(algorithm, strength)


def test_raw_key_of_wrong_size_fails_signing():
    _, private, _ = signed(1, 0)
    with pytest.raises(QuantumOperationError, match=r"^Signing failed \(ML-DSA-44\): "):
        core.sign(DATA, private[:-1])
    with pytest.raises(QuantumOperationError, match=r"^Signing failed \(ML-DSA-65\): "):
        core.sign(DATA, b"\x01\x01" + private[2:])


def test_bytes_like_arguments():
    public, private, signature = signed(1, 0)
    assert core.verify(bytearray(DATA), memoryview(signature), bytearray(public)) is True
    assert core.verify(None, signature, public) is False
    assert core.verify(DATA, None, public) is False


@pytest.mark.parametrize(
    "key, error, message",
    [
        (None, QuantumOperationError, r"^Signing failed \(ML-DSA-44\): "),
        (b"\x01", InvalidInputError, "^Invalid signature private key: missing header$"),
        (b"\x03\x00key", InvalidInputError, "^Unsupported signature scheme id 3$"),
        (b"\x01\x07key", KeyError, "7"),
    ],
)
def test_data_liboqs_cannot_take_fails_after_the_key_was_judged(key, error, message):
    private = signed(1, 0)[1] if key is None else key
    with pytest.raises(error, match=message) as info:
        core.sign("text, not bytes", private)
    if error is QuantumOperationError:
        assert isinstance(info.value.__cause__, TypeError)


@pytest.mark.parametrize("alg, kind", [(SignatureAlgorithm.ML_DSA, "mldsa"), (1, "mldsa"), (1.0, "mldsa"),
                                       (SignatureAlgorithm.SLH_DSA, "slhdsa"), (0, "slhdsa"), ("1", "slhdsa")])
def test_sig_kind(alg, kind):
    assert core._sig_kind(alg) == kind


def test_sig_strip():
    assert core._sig_strip(b"\x02\x01abc", "signature public") == (2, 1, b"abc")
    assert core._sig_strip(b"\x09\x09\x00", "x") == (9, 9, b"\x00")
    with pytest.raises(InvalidInputError, match="^Invalid test key: missing header$"):
        core._sig_strip(b"\x01\x02", "test")
    # The label only makes the error text.
    assert core._sig_strip(b"\x01\x02a", None) == (1, 2, b"a")


def test_slh_dsa_key_is_used_under_whichever_spelling_is_enabled(sig_names):
    public, private, signature = signed(2, 0)
    sig_names("SLH_DSA_PURE_SHA2_128F", False)
    sig_names("SLH-DSA-SHA2-128f", True)
    assert core.verify(DATA, signature, public) is True
    assert core.verify(DATA, core.sign(DATA, private), public) is True
    sig_names("SLH-DSA-SHA2-128f", False)
    for call in (lambda: core.verify(DATA, signature, public), lambda: core.sign(DATA, private),
                 lambda: core.generate_signature_keypair(2, 0)):
        with pytest.raises(QuantumOperationError, match=r"^No SLH-DSA mechanism available; tried \["):
            call()


def test_disabled_mechanism(sig_names):
    public, private, signature = signed(1, 2)
    sig_names("ML-DSA-87", False)
    with pytest.raises(QuantumOperationError, match=r"^Signature key generation failed \(ML-DSA-87\): "):
        core.generate_signature_keypair()
    with pytest.raises(QuantumOperationError, match=r"^Signing failed \(ML-DSA-87\): "):
        core.sign(DATA, private)
    assert core.verify(DATA, signature, public) is False
