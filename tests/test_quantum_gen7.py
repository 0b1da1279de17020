"""Scheme 7: RSA-4096 and FrodoKEM side by side."""
import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa

from quantum_keys import KEM_SIZES, gen7_generated, scheme_pair
from tesmar.errors import DecryptionError, InvalidInputError, QuantumOperationError
from tesmar.quantum import core

TEXT = "scheme seven"


def u32(n):
    return n.to_bytes(4, "little")


@pytest.fixture(scope="module")
def sealed():
    public, private = scheme_pair(7, 0)
    secret, enc = core.encrypt(TEXT, public)
    return public[2:], private[2:], secret, enc


def test_key_layout():
    public, private = gen7_generated()
    assert public[:2] == private[:2] == b"\x07\x02"
    assert public[2:6].hex() == "0e020000" and public[6:10].hex() == "3082020a"
    assert len(public) == 2 + 4 + 526 + KEM_SIZES["FrodoKEM-1344-AES"][0]
    r = int.from_bytes(private[2:6], "little")
    assert len(private) == 2 + 4 + r + KEM_SIZES["FrodoKEM-1344-AES"][1]
    rsa_public = serialization.load_der_public_key(core._pkcs1_to_spki(public[6:6 + 526]))
    rsa_private = serialization.load_der_private_key(private[6:6 + r], None)
    assert isinstance(rsa_private, rsa.RSAPrivateKey) and rsa_private.key_size == 4096
    assert rsa_private.public_key().public_numbers() == rsa_public.public_numbers()
    assert rsa_public.public_numbers().e == 65537
    assert private[6:6 + r] == rsa_private.private_bytes(
        serialization.Encoding.DER, serialization.PrivateFormat.TraditionalOpenSSL, serialization.NoEncryption())


def test_secret_layout():
    public, _ = gen7_generated()
    secret, enc = core.encrypt("", public)
    assert secret[:4].hex() == "00020000"
    assert len(secret) == 4 + 512 + KEM_SIZES["FrodoKEM-1344-AES"][2]
    assert len(enc) == 60


@pytest.mark.parametrize(
    "raw, message",
    [
        (b"", "Invalid Gen7 public key"),
        (b"\x01\x00\x00", "Invalid Gen7 public key"),
        (u32(10) + b"x" * 9, "Invalid Gen7 public key (truncated)"),
        (u32(10) + b"x" * 10, "Invalid Gen7 public key (truncated)"),
        (u32(2**32 - 1) + b"x" * 100, "Invalid Gen7 public key (truncated)"),
    ],
)
def test_public_key_layout_checks(raw, message):
    with pytest.raises(InvalidInputError) as info:
        core._gen7_encrypt(b"data", raw, 0)
    assert str(info.value) == message


def test_unloadable_rsa_public_key(sealed):
    raw_pk = sealed[0]
    with pytest.raises(InvalidInputError) as info:
        core._gen7_encrypt(b"data", u32(5) + b"junk!" + raw_pk[-100:], 0)
    assert str(info.value) == "Invalid Gen7 RSA public key: " + str(info.value.__cause__)


@pytest.mark.parametrize(
    "enc_len, raw_len, secret_len, message",
    [
        (59, 3, 3, "Invalid Gen7 private key"),
        (59, None, 3, "Invalid Gen7 encapsulated secret"),
        (59, None, None, "Invalid Gen7 encrypted message"),
    ],
)
def test_decrypt_order_of_checks(sealed, enc_len, raw_len, secret_len, message):
    _, raw, secret, enc = sealed
    with pytest.raises(InvalidInputError) as info:
        core._gen7_decrypt(enc[:enc_len], raw[:raw_len], secret[:secret_len], 0)
    assert str(info.value) == message


def test_message_length_is_tested_before_the_rsa_key_is_read(sealed):
    _, _, secret, enc = sealed
    with pytest.raises(InvalidInputError, match="^Invalid Gen7 encrypted message$"):
        core._gen7_decrypt(enc[:59], u32(3) + b"bad", secret, 0)


def test_unloadable_rsa_private_key(sealed):
    _, raw, secret, enc = sealed
    with pytest.raises(InvalidInputError) as info:
        core._gen7_decrypt(enc, u32(3) + b"bad" + raw[-100:], secret, 0)
    assert str(info.value) == "Invalid Gen7 RSA private key: " + str(info.value.__cause__)


@pytest.mark.parametrize("change", ["other key", "block byte", "block length", "short block"])
def test_rsa_failures(sealed, change):
    _, raw, secret, enc = sealed
    w = int.from_bytes(secret[:4], "little")
    if change == "other key":
        raw = scheme_pair(7, 0, variant=1)[1][2:]
    elif change == "block byte":
        secret = secret[:100] + bytes([secret[100] ^ 1]) + secret[101:]
    elif change == "block length":
        secret = u32(w - 1) + secret[4:]
    else:
        secret = u32(0) + secret[4 + w:]
    with pytest.raises(DecryptionError, match="^Gen7 RSA decryption failed$") as info:
        core._gen7_decrypt(enc, raw, secret, 0)
    assert isinstance(info.value.__cause__, Exception)


def test_changed_frodo_capsule_fails_authentication(sealed):
    _, raw, secret, enc = sealed
    with pytest.raises(DecryptionError, match=r"^Quantum AES-GCM decryption failed \(wrong key or tampered data\)$"):
        core._gen7_decrypt(enc, raw, secret[:-1] + bytes([secret[-1] ^ 1]), 0)


@pytest.mark.parametrize(
    "capsule_cut, strength, error, message",
    [
        (0, 0, DecryptionError, "^Gen7 RSA decryption failed$"),
        (1, 0, QuantumOperationError, r"^KEM decapsulation failed \(FrodoKEM-640-AES\): "),
        (0, 3, KeyError, "3"),
    ],
)
def test_forged_short_session_key(sealed, capsule_cut, strength, error, message):
    # A block that anyone holding the public key can make: OAEP over 5 bytes instead of 32. The
    # FrodoKEM step still comes first; only then is the session key found unusable.
    raw_pk, raw, secret, enc = sealed
    r = int.from_bytes(raw_pk[:4], "little")
    rsa_public = serialization.load_der_public_key(core._pkcs1_to_spki(raw_pk[4:4 + r]))
    oaep = padding.OAEP(mgf=padding.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)
    block = rsa_public.encrypt(b"short", oaep)
    capsule = secret[4 + 512:]
    forged = u32(len(block)) + block + capsule[:len(capsule) - capsule_cut]
    with pytest.raises(error, match=message):
        core._gen7_decrypt(enc, raw, forged, strength)
