"""Post-quantum encryption: every scheme through generate_keypair / encrypt / decrypt, the layouts,
the order of the length tests and what tampering gives."""
import re

import pytest

from quantum_keys import KEM_SIZES, scheme_pair
from tesmar.errors import DecryptionError, InvalidInputError, QuantumOperationError
from tesmar.quantum import core
from tesmar.quantum.types import QuantumGeneration, QuantumStrength

GCM_FAILURE = "Quantum AES-GCM decryption failed (wrong key or tampered data)"
FAILURE = {2: "Gen2 HMAC verification failed", 5: "Gen5 HMAC verification failed",
           4: GCM_FAILURE, 6: GCM_FAILURE, 7: GCM_FAILURE, 8: GCM_FAILURE}
MINIMUM = {2: 48, 4: 28, 5: 80, 6: 44, 7: 60, 8: 60}
SCHEMES = [2, 4, 5, 6, 7, 8]
PAIRS = [(s, st) for s in SCHEMES for st in (0, 1, 2) if s != 4 or st == 2]
# The last is long enough to be written straight into the result object (from 64 KiB).
TEXTS = ["", "plain ASCII text", "grüße, ✓ and 🚀 beyond ASCII", "long ✓ " * 12_000]
TEXT = "a message long enough to span several AES blocks"


def message_length(scheme, n):
    """Length of the encrypted message for n bytes of plaintext."""
    cbc = (n // 16 + 1) * 16
    return {2: 16 + cbc + 32, 5: 32 + 16 + cbc + 32, 4: 28 + n, 6: 44 + n, 7: 60 + n, 8: 60 + n}[scheme]


def flip(data, at):
    data = bytearray(data)
    data[at] ^= 0x01
    return bytes(data)


@pytest.mark.parametrize("text", TEXTS)
@pytest.mark.parametrize("scheme, strength", PAIRS)
def test_round_trip(scheme, strength, text):
    public, private = scheme_pair(scheme, strength)
    secret, enc = core.encrypt(text, public)
    assert (type(secret), type(enc)) == (bytes, bytes)
    assert len(enc) == message_length(scheme, len(text.encode()))
    assert core.decrypt(enc, private, secret) == text


@pytest.mark.parametrize("scheme, strength", PAIRS)
def test_encryptions_differ(scheme, strength):
    public, _ = scheme_pair(scheme, strength)
    (s1, e1), (s2, e2) = core.encrypt(TEXT, public), core.encrypt(TEXT, public)
    assert s1 != s2 and e1[:16] != e2[:16] and e1[-16:] != e2[-16:]


@pytest.mark.parametrize(
    "generation, strength, header, alg",
    [
        (QuantumGeneration.GEN4, QuantumStrength.STANDARD, "0402", "FrodoKEM-1344-AES"),
        (3, 1, "0601", "FrodoKEM-976-AES"),
        (6, 0, "0600", "FrodoKEM-640-AES"),
        pytest.param(1, 0, "0200", "Classic-McEliece-6688128", marks=pytest.mark.keygen),
        (8, 0, "0800", None),
    ],
)
def test_generate_keypair_records_the_scheme_built(generation, strength, header, alg):
    public, private = core.generate_keypair(generation, strength)
    assert public[:2].hex() == private[:2].hex() == header
    if alg:
        pk_len, sk_len, _, _ = KEM_SIZES[alg]
        assert (len(public), len(private)) == (2 + pk_len, 2 + sk_len)
    secret, enc = core.encrypt("text", public)
    assert core.decrypt(enc, private, secret) == "text"


def test_default_is_scheme_8_at_strength_2():
    public, private = core.generate_keypair()
    assert public[:2] == private[:2] == b"\x08\x02"
    assert (len(public), len(private)) == (2 + 32 + 1568, 2 + 32 + 3168)
    secret, enc = core.encrypt("", public)
    assert len(secret) == 4 + 1568 + 32 and secret[:4].hex() == "20060000"
    assert len(enc) == 60


@pytest.mark.parametrize("generation, strength", [(9, 0), (0, 0), (2, 3), (8, -1), (3, 0.5 + 2.5)])
def test_generate_keypair_refuses_unknown_values(generation, strength):
    with pytest.raises(ValueError):
        core.generate_keypair(generation, strength)


@pytest.mark.parametrize("strength, length, prefix", [(0, 768, "00030000"), (1, 1088, "40040000")])
def test_scheme_8_secret_layout(strength, length, prefix):
    public, _ = scheme_pair(8, strength)
    secret, _ = core.encrypt("x", public)
    assert len(secret) == 4 + length + 32 and secret[:4].hex() == prefix


# ---- tampering and wrong keys ----------------------------------------------------------------


@pytest.mark.parametrize("where", [0, 13, 30, 45, -17, -1])
@pytest.mark.parametrize("scheme", SCHEMES)
def test_any_changed_message_byte_fails(scheme, where):
    public, private = scheme_pair(scheme, 2)
    secret, enc = core.encrypt(TEXT, public)
    with pytest.raises(DecryptionError) as info:
        core.decrypt(flip(enc, where), private, secret)
    assert str(info.value) == FAILURE[scheme]


@pytest.mark.parametrize("scheme", [4, 6, 8])
@pytest.mark.parametrize("where", [5, -1])
def test_changed_capsule_fails_authentication(scheme, where):
    public, private = scheme_pair(scheme, 2)
    secret, enc = core.encrypt(TEXT, public)
    with pytest.raises(DecryptionError, match=r"^Quantum AES-GCM decryption failed \(wrong key or tampered data\)$"):
        core.decrypt(enc, private, flip(secret, where))


@pytest.mark.parametrize("scheme", [2, 5])
def test_changed_mceliece_capsule_fails_the_mac(scheme):
    public, private = scheme_pair(scheme, 0)
    secret, enc = core.encrypt(TEXT, public)
    # A McEliece ciphertext that is not well-formed may be refused by the KEM instead.
    with pytest.raises((DecryptionError, QuantumOperationError)):
        core.decrypt(enc, private, flip(secret, 0))


@pytest.mark.parametrize("scheme, strength", PAIRS)
def test_another_private_key_fails(scheme, strength):
    public, _ = scheme_pair(scheme, strength)
    _, other = scheme_pair(scheme, strength, variant=1)
    secret, enc = core.encrypt(TEXT, public)
    with pytest.raises(DecryptionError):
        core.decrypt(enc, other, secret)


@pytest.mark.parametrize("scheme, strength", PAIRS)
@pytest.mark.parametrize("text", ["", TEXT])
def test_swapped_halves_never_give_text(scheme, strength, text):
    public, private = scheme_pair(scheme, strength)
    secret, enc = core.encrypt(text, public)
    with pytest.raises(Exception):
        core.decrypt(secret, private, enc)


@pytest.mark.parametrize("scheme", SCHEMES)
def test_message_length_is_tested_first(scheme):
    public, private = scheme_pair(scheme, 2)
    secret, _ = core.encrypt(TEXT, public)
    with pytest.raises(InvalidInputError, match=f"^Invalid Gen{scheme} encrypted message$"):
        core.decrypt(bytes(MINIMUM[scheme] - 1), private, secret)
    # The shortest accepted message gets as far as authentication.
    with pytest.raises(DecryptionError, match=f"^{re.escape(FAILURE[scheme])}$"):
        core.decrypt(bytes(MINIMUM[scheme]), private, secret)


@pytest.mark.parametrize("scheme", [4, 6, 8])
def test_a_rejected_capsule_wins_over_a_tampered_message(scheme):
    public, private = scheme_pair(scheme, 2)
    secret, enc = core.encrypt(TEXT, public)
    if scheme == 8:  # a length field one short of the ML-KEM ciphertext
        m = int.from_bytes(secret[:4], "little")
        bad = (m - 1).to_bytes(4, "little") + secret[4:]
    else:
        bad = secret[:-1]
    with pytest.raises(QuantumOperationError, match=r"^KEM decapsulation failed \("):
        core.decrypt(flip(enc, -1), private, bad)


# ---- header handling -------------------------------------------------------------------------


def test_scheme_4_ignores_the_strength_byte():
    public, private = scheme_pair(4, 2)
    secret, enc = core.encrypt("text", b"\x04\x00" + public[2:])
    assert core.decrypt(enc, b"\x04\x00" + private[2:], secret) == "text"


def test_scheme_6_private_key_with_another_strength_byte():
    public, private = scheme_pair(6, 2)
    secret, enc = core.encrypt("text", public)
    with pytest.raises(QuantumOperationError, match=r"^KEM decapsulation failed \(FrodoKEM-640-AES\): "):
        core.decrypt(enc, b"\x06\x00" + private[2:], secret)


@pytest.mark.parametrize("scheme", [2, 5, 6, 7, 8])
@pytest.mark.parametrize("strength", [3, 255])
def test_strength_byte_without_mechanism_is_a_key_error(scheme, strength):
    public, private = scheme_pair(scheme, 0)
    secret, enc = core.encrypt("text", public)
    with pytest.raises(KeyError) as info:
        core.encrypt("text", bytes([scheme, strength]) + public[2:])
    assert info.value.args == (strength,)
    with pytest.raises(KeyError):
        core.decrypt(enc, bytes([scheme, strength]) + private[2:], secret)


@pytest.mark.parametrize("public_key", [b"", b"\x08", b"\x06\x01", b"\x06\x01\x00\x00", b"\x08\x02" + bytes(1602)])
def test_encrypt_refuses_empty_keys(public_key):
    with pytest.raises(InvalidInputError, match="^Invalid or empty quantum public key$"):
        core.encrypt("text", public_key)


def test_key_is_judged_before_the_message():
    with pytest.raises(InvalidInputError):
        core.encrypt("\udc80", b"\x06\x01")
    with pytest.raises(UnicodeEncodeError):
        core.encrypt("\udc80", b"\x06\x01\x05")


@pytest.mark.parametrize("scheme", [0, 1, 3, 9, 255])
def test_unsupported_scheme_bytes(scheme):
    with pytest.raises(QuantumOperationError) as info:
        core.encrypt("text", bytes([scheme, 1, 5]))
    assert str(info.value) == f"Quantum generation 0x{scheme:02x} is not supported for encryption"
    with pytest.raises(QuantumOperationError) as info:
        core.decrypt(b"enc", bytes([scheme, 1, 5]), b"secret")
    assert str(info.value) == f"Quantum generation 0x{scheme:02x} is not supported for decryption"


@pytest.mark.parametrize("missing", [b"", None])
def test_decrypt_checks_key_then_secret(missing):
    _, private = scheme_pair(6, 1)
    with pytest.raises(InvalidInputError, match="^Invalid quantum private key$"):
        core.decrypt(b"", b"\x06\x01", missing)
    with pytest.raises(InvalidInputError, match="^Encapsulated secret required for quantum decryption$"):
        core.decrypt(b"", private, missing)


def test_plaintext_that_is_not_utf8():
    public, private = scheme_pair(8, 0)
    secret, enc = core._gen8_encrypt(b"\xff\xfe", public[2:], 0)
    with pytest.raises(DecryptionError, match="^Decrypted quantum data is not valid UTF-8$") as info:
        core.decrypt(enc, private, secret)
    assert isinstance(info.value.__cause__, UnicodeDecodeError)


@pytest.mark.parametrize("data", [b"", b"raw bytes", bytes(range(256)) * 300])
def test_scheme_functions_take_the_raw_key(data):
    public, private = scheme_pair(6, 1)
    secret, enc = core._gen6_encrypt(data, public[2:], QuantumStrength.MEDIUM)
    assert len(enc) == message_length(6, len(data))
    assert core._gen6_decrypt(enc, private[2:], secret, 1) == data
    secret, enc = core._gen4_encrypt(data, scheme_pair(4, 2)[0][2:])
    assert core._gen4_decrypt(enc, scheme_pair(4, 2)[1][2:], secret) == data


# ---- scheme 8 ----------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def gen8():
    public, private = scheme_pair(8, 0)
    secret, enc = core.encrypt(TEXT, public)
    return public[2:], private[2:], secret, enc


def test_scheme_8_public_key_checks(gen8):
    raw_pk = gen8[0]
    with pytest.raises(InvalidInputError, match="^Invalid Gen8 public key$"):
        core._gen8_encrypt(b"x", raw_pk[:31], 0)
    with pytest.raises(QuantumOperationError, match=r"^KEM encapsulation failed \(ML-KEM-512\): "):
        core._gen8_encrypt(b"x", raw_pk[:32], 0)


@pytest.mark.parametrize(
    "raw_len, secret_len, enc_len, message",
    [
        (31, 35, 59, "Invalid Gen8 private key"),
        (32, 35, 59, "Invalid Gen8 encapsulated secret"),
        (None, 35, 59, "Invalid Gen8 encapsulated secret"),
        (None, None, 59, "Invalid Gen8 encrypted message"),
    ],
)
def test_scheme_8_decrypt_order_of_checks(gen8, raw_len, secret_len, enc_len, message):
    _, raw, secret, enc = gen8
    with pytest.raises(InvalidInputError, match=f"^{message}$"):
        core._gen8_decrypt(enc[:enc_len], raw[:raw_len], secret[:secret_len], 0)


@pytest.mark.parametrize("field", [0, 768 + 1])
def test_scheme_8_length_field_out_of_range(gen8, field):
    _, raw, secret, enc = gen8
    with pytest.raises(InvalidInputError, match="^Invalid Gen8 encapsulated secret$"):
        core._gen8_decrypt(enc, raw, field.to_bytes(4, "little") + secret[4:], 0)


def test_scheme_8_length_field_shorter_than_the_ciphertext(gen8):
    _, raw, secret, enc = gen8
    with pytest.raises(QuantumOperationError, match=r"^KEM decapsulation failed \(ML-KEM-512\): "):
        core._gen8_decrypt(enc, raw, (767).to_bytes(4, "little") + secret[4:], 0)


def test_scheme_8_ignores_bytes_after_the_secret(gen8):
    _, raw, secret, enc = gen8
    assert core._gen8_decrypt(enc, raw, secret + b"trailing", 0) == TEXT.encode()


def test_scheme_8_another_ephemeral_key(gen8):
    _, raw, secret, enc = gen8
    other_eph = core.encrypt("y", scheme_pair(8, 0)[0])[0][-32:]
    with pytest.raises(DecryptionError, match=r"^Quantum AES-GCM decryption failed"):
        core._gen8_decrypt(enc, raw, secret[:-32] + other_eph, 0)


def test_scheme_8_degenerate_x25519_key_is_the_primitives_error(gen8):
    raw_pk = gen8[0]
    with pytest.raises(ValueError):
        core._gen8_encrypt(b"x", bytes(32) + raw_pk[32:], 0)


def test_scheme_8_every_field_is_fresh():
    public, _ = scheme_pair(8, 1)
    (s1, e1), (s2, e2) = core.encrypt(TEXT, public), core.encrypt(TEXT, public)
    assert s1[4:-32] != s2[4:-32] and s1[-32:] != s2[-32:]
    assert e1[:32] != e2[:32] and e1[32:44] != e2[32:44] and e1[44:] != e2[44:]
