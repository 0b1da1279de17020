"""Symmetric and encoding helpers of the post-quantum schemes, against pyca cryptography."""
import hashlib
import hmac

import pytest
from cryptography.hazmat.primitives import hashes, padding, serialization
from cryptography.hazmat.primitives.asymmetric import rsa, x25519
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF
from hypothesis import given, settings, strategies as st

from emulation import examples
from tesmar.errors import DecryptionError
from tesmar.quantum import core

GCM_FAILURE = "Quantum AES-GCM decryption failed (wrong key or tampered data)"
aes_keys = st.sampled_from([16, 24, 32]).flatmap(lambda n: st.binary(min_size=n, max_size=n))


@settings(max_examples=examples(60), deadline=None)
@given(ikm=st.binary(max_size=80), salt=st.binary(max_size=80), info=st.binary(max_size=40),
       length=st.integers(0, 300))
def test_hkdf_matches_rfc5869(ikm, salt, info, length):
    expected = HKDF(hashes.SHA256(), length, salt or None, info).derive(ikm) if length else b""
    assert core._hkdf(ikm, salt, info, length) == expected


def test_hkdf_limits():
    assert len(core._hkdf(b"k", b"", b"", 8160)) == 8160
    with pytest.raises(ValueError):
        core._hkdf(b"k", b"", b"", 8161)


@settings(max_examples=examples(60), deadline=None)
@given(key=st.binary(max_size=100), data=st.binary(max_size=300))
def test_hmac256(key, data):
    assert core._hmac256(key, data) == hmac.new(key, data, hashlib.sha256).digest()
    assert core._gen4_key(key) == hmac.new(key, b"\x01", hashlib.sha256).digest()


@settings(max_examples=examples(60), deadline=None)
@given(key=aes_keys, nonce=st.binary(min_size=12, max_size=12), data=st.binary(max_size=200))
def test_gcm_against_aesgcm(key, nonce, data):
    ct, tag = core._gcm_seal(key, nonce, data)
    assert ct + tag == AESGCM(key).encrypt(nonce, data, None)
    assert core._gcm_open(key, nonce, ct, tag) == data


@pytest.mark.parametrize(
    "change",
    [
        lambda k, n, c, t: (bytes(32), n, c, t),
        lambda k, n, c, t: (k, n[:-1] + b"\0", c, t),
        lambda k, n, c, t: (k, n, b"X" + c[1:], t),
        lambda k, n, c, t: (k, n, c, t[:-1] + bytes([t[-1] ^ 1])),
        lambda k, n, c, t: (k, n, c + b"\0", t),
        lambda k, n, c, t: (k[:20], n, c, t),
        lambda k, n, c, t: (k, n[:4], c, t),
        lambda k, n, c, t: (k, n, c, t[:15]),
        lambda k, n, c, t: (None, n, c, t),
    ],
)
def test_gcm_open_failures_are_one_decryption_error(change):
    key, nonce = b"k" * 32, b"n" * 12
    ct, tag = core._gcm_seal(key, nonce, b"secret text")
    with pytest.raises(DecryptionError) as info:
        core._gcm_open(*change(key, nonce, ct, tag))
    assert str(info.value) == GCM_FAILURE
    assert isinstance(info.value.__cause__, Exception)


@pytest.mark.parametrize("split", [0, 1, 5, 10, 11, 12, 20, 26, 27])
def test_gcm_open_reads_ciphertext_and_tag_as_one_sealed_string(split):
    key, nonce = b"k" * 32, b"n" * 12
    sealed = b"".join(core._gcm_seal(key, nonce, b"eleven byte"))
    assert core._gcm_open(key, nonce, sealed[:split], sealed[split:]) == b"eleven byte"


@pytest.mark.parametrize("ciphertext, tag", [(b"", b""), (b"", b"x" * 15), (b"x" * 7, b"x" * 8)])
def test_gcm_open_of_less_than_a_tag(ciphertext, tag):
    with pytest.raises(DecryptionError, match=r"^Quantum AES-GCM decryption failed \(wrong key or tampered data\)$") as info:
        core._gcm_open(b"k" * 32, b"n" * 12, ciphertext, tag)
    assert type(info.value.__cause__).__name__ == "InvalidTag"


def test_gcm_seal_refuses_unusable_keys():
    with pytest.raises(ValueError):
        core._gcm_seal(b"k" * 20, b"n" * 12, b"x")


@settings(max_examples=examples(60), deadline=None)
@given(key=aes_keys, iv=st.binary(min_size=16, max_size=16), data=st.binary(max_size=100))
def test_cbc_against_pkcs7_cbc(key, iv, data):
    padder = padding.PKCS7(128).padder()
    padded = padder.update(data) + padder.finalize()
    enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    ct = core._cbc_encrypt(data, key, iv)
    assert ct == enc.update(padded) + enc.finalize()
    assert len(ct) == (len(data) // 16 + 1) * 16
    assert core._cbc_decrypt(ct, key, iv) == data


@pytest.mark.parametrize("last_block", [b"\0" * 16, b"A" * 15 + b"\x11", b"A" * 14 + b"\x01\x02", b"A" * 15 + b"\x00"])
def test_cbc_bad_padding(last_block):
    key, iv = b"k" * 32, b"i" * 16
    enc = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    ct = enc.update(b"B" * 16 + last_block) + enc.finalize()
    with pytest.raises(DecryptionError, match="^Quantum AES-CBC unpadding failed$") as info:
        core._cbc_decrypt(ct, key, iv)
    assert isinstance(info.value.__cause__, ValueError)


@pytest.mark.parametrize(
    "args",
    [(b"x" * 17, b"k" * 32, b"i" * 16), (b"x" * 16, b"k" * 31, b"i" * 16), (b"x" * 16, b"k" * 32, b"i" * 15)],
)
def test_cbc_decrypt_lets_unusable_input_through(args):
    with pytest.raises(ValueError):
        core._cbc_decrypt(*args)


@pytest.mark.parametrize(
    "n, encoded",
    [(0, "00"), (127, "7f"), (128, "8180"), (255, "81ff"), (256, "820100"), (300, "82012c"),
     (526, "82020e"), (65536, "83010000"), (2**64 - 1, "88ffffffffffffffff"),
     (2**64, "89010000000000000000"), (2**100 + 5, "8d10000000000000000000000005"), (True, "01")],
)
def test_der_len(n, encoded):
    assert core._der_len(n).hex() == encoded


@pytest.mark.parametrize("n, error", [(-1, ValueError), (-2**70, ValueError), (2**(8 * 127), OverflowError),
                                      (1.0, TypeError)])
def test_der_len_refuses(n, error):
    with pytest.raises(error):
        core._der_len(n)


@pytest.fixture(scope="module")
def rsa_pkcs1():
    key = rsa.generate_private_key(65537, 4096)
    return key.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1)


def test_pkcs1_to_spki(rsa_pkcs1):
    assert len(rsa_pkcs1) == 526
    spki = core._pkcs1_to_spki(rsa_pkcs1)
    assert len(spki) == 550
    assert spki.hex().startswith("30820222300d06092a864886f70d0101010500038202" "0f00")
    loaded = serialization.load_der_public_key(spki)
    assert loaded.public_bytes(serialization.Encoding.DER, serialization.PublicFormat.PKCS1) == rsa_pkcs1


@pytest.mark.parametrize("payload, encoded", [(b"", "3012 300d06092a864886f70d0101010500 030100"),
                                              (b"\xaa", "3013 300d06092a864886f70d0101010500 030200aa")])
def test_pkcs1_to_spki_wraps_any_bytes(payload, encoded):
    assert core._pkcs1_to_spki(payload).hex() == encoded.replace(" ", "")


def test_module_constants():
    assert core._RSA_ALG_ID == bytes.fromhex("300d06092a864886f70d0101010500")
    assert (core._GEN8_INFO, core._GEN6_INFO, core._GEN5_INFO, core._GEN7_INFO) == (
        b"Gen8-Hybrid-X25519-MLKEM", b"Gen6-Frodo-GCM", b"Gen5-CMCE-HMAC", b"Gen7-Hybrid-RSA-Frodo")


@settings(max_examples=examples(30), deadline=None)
@given(session=st.binary(min_size=32, max_size=32), ss_len=st.sampled_from([16, 24, 32]), data=st.data())
def test_xor_mix_repeats_the_frodo_secret(session, ss_len, data):
    ss = data.draw(st.binary(min_size=ss_len, max_size=ss_len))
    assert core._xor_mix(session, ss) == bytes(session[i] ^ ss[i % ss_len] for i in range(32))


def test_xor_mix_uses_a_16_byte_secret_twice():
    mixed = core._xor_mix(bytes(range(32)), b"\xff" + bytes(15))
    assert mixed[0] == 0 ^ 0xFF and mixed[16] == 16 ^ 0xFF and mixed[1:16] == bytes(range(1, 16))


def test_x25519_raw_of_a_key_object():
    key = x25519.X25519PrivateKey.generate()
    pub, sk = core._x25519_raw(key)
    assert pub == key.public_key().public_bytes_raw()
    assert sk == key.private_bytes_raw()


def test_gcm_authentication_failure_is_the_cause():
    key, nonce = b"k" * 32, b"n" * 12
    ct, tag = core._gcm_seal(key, nonce, b"x")
    with pytest.raises(DecryptionError) as info:
        core._gcm_open(key, nonce, ct, bytes(16))
    assert type(info.value.__cause__).__name__ == "InvalidTag"
