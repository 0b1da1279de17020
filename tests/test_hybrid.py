import asyncio
import base64
import hashlib
import os

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from hypothesis import given, settings, strategies as st

from emulation import examples
import tesmar
import tesmar.sync
from tesmar.errors import DecryptionError, InvalidInputError, TesmarError
from tesmar.hybrid import core
from tesmar.rsa import core as rsa_core

OAEP = padding.OAEP(mgf=padding.MGF1(hashes.SHA256()), algorithm=hashes.SHA256(), label=None)
GCM_FAILURE = "Hybrid AES-GCM decryption failed (wrong key or tampered data)"
LEGACY_INVALID = "Invalid hybrid data (legacy Swift format)"
ENVELOPE_FAILURE = (
    "AES decryption failed: data is not valid AES-GCM (legacy AES-CBC+HMAC not yet supported, or wrong "
    "key/tampered data)."
)


@pytest.fixture(scope="module")
def keys(rsa_keys):
    """(private_pem, public_pem, pyca private key)"""
    private_pem, public_pem = rsa_keys
    key = serialization.load_pem_private_key(private_pem.encode(), None, unsafe_skip_rsa_key_validation=True)
    return private_pem, public_pem, key


def net_blob(public_key, data, aes_key, nonce=None):
    """The length-prefixed layout, built with pyca."""
    nonce = nonce or os.urandom(12)
    wrapped = public_key.encrypt(aes_key, OAEP)
    sealed = AESGCM(aes_key).encrypt(nonce, data, None)
    return len(wrapped).to_bytes(4, "little") + wrapped + nonce + sealed[-16:] + sealed[:-16]


def legacy_blob(public_key, data, wrapped_key, envelope_key):
    """The legacy layout: the envelope is sealed under the key that the key text rule gives."""
    wrapped = public_key.encrypt(wrapped_key, OAEP)
    nonce = os.urandom(12)
    return b"HYBR" + len(wrapped).to_bytes(4, "big") + wrapped + nonce + AESGCM(envelope_key).encrypt(nonce, data, None)


def pyca_open(private_key, blob):
    n = int.from_bytes(blob[:4], "little")
    aes_key = private_key.decrypt(blob[4:4 + n], OAEP)
    nonce, tag, ct = blob[4 + n:16 + n], blob[16 + n:32 + n], blob[32 + n:]
    return AESGCM(aes_key).decrypt(nonce, ct + tag, None)


def test_layout_constants_describe_real_blobs(keys):
    private_pem, public_pem, _ = keys
    blob = core.encrypt_bytes(b"x" * 10, public_pem)
    assert int.from_bytes(blob[:4], "little") == core.RSA_BLOCK
    assert len(blob) == 4 + core.RSA_BLOCK + core.NONCE + core.TAG + 10
    with pytest.raises(DecryptionError, match=r"^Invalid hybrid data \(legacy Swift format\)$"):
        core.decrypt_auto(core.HYBR + bytes(4), private_pem)


@pytest.mark.parametrize("size", [1, 1000, 1 << 20])
def test_envelopes_made_here_open_in_pyca(keys, size):
    private_pem, public_pem, key = keys
    data = os.urandom(size)
    blob = core.encrypt_bytes(data, public_pem)
    assert len(blob) == 544 + size and blob[:4] == b"\x00\x02\x00\x00"
    assert pyca_open(key, blob) == data
    assert core.decrypt_auto(blob, private_pem) == data


@pytest.mark.parametrize("key_size", [16, 24, 32])
@pytest.mark.parametrize("size", [1, 5000])
def test_length_prefixed_envelopes_from_pyca_open_here(keys, key_size, size):
    private_pem, _, key = keys
    data = os.urandom(size)
    blob = net_blob(key.public_key(), data, os.urandom(key_size))
    assert core.decrypt_auto(blob, private_pem) == data
    assert core._net_decrypt(blob, private_pem) == data
    assert rsa_core.decrypt_bytes(blob, private_pem) == data


@pytest.mark.parametrize(
    "wrapped_len, envelope_key",
    [
        (32, lambda k: k),                      # the Base64 text of 32 bytes gives them back
        (64, lambda k: k[:32]),                 # ... of 64 bytes their first half
        (16, lambda k: hashlib.sha256(k).digest()),  # other lengths are hashed
    ],
)
def test_legacy_envelopes_open_under_the_key_text_rule(keys, wrapped_len, envelope_key):
    private_pem, _, key = keys
    wrapped = os.urandom(wrapped_len)
    blob = legacy_blob(key.public_key(), b"legacy data", wrapped, envelope_key(wrapped))
    assert core.decrypt_auto(blob, private_pem) == b"legacy data"
    assert core._legacy_decrypt(blob, private_pem) == b"legacy data"


def test_every_field_but_the_length_is_fresh(keys):
    _, public_pem, _ = keys
    a, b = core.encrypt_bytes(b"same", public_pem), core.encrypt_bytes(b"same", public_pem)
    assert a[:4] == b[:4]
    for start, stop in [(4, 516), (516, 528), (528, 544), (544, 548)]:
        assert a[start:stop] != b[start:stop]


def flip(blob, index):
    out = bytearray(blob)
    out[index] ^= 0x01
    return bytes(out)


@pytest.mark.parametrize("index, message", [
    (4, "RSA decryption failed: "), (515, "RSA decryption failed: "),
    (516, GCM_FAILURE), (527, GCM_FAILURE), (528, GCM_FAILURE), (543, GCM_FAILURE), (544, GCM_FAILURE),
    (-1, GCM_FAILURE),
])
def test_tampering_with_the_length_prefixed_layout(keys, index, message):
    private_pem, public_pem, _ = keys
    blob = core.encrypt_bytes(b"payload" * 10, public_pem)
    with pytest.raises(DecryptionError) as info:
        core.decrypt_auto(flip(blob, index), private_pem)
    assert str(info.value).startswith(message)
    assert info.value.__cause__ is not None


def test_changed_length_fields_change_the_layout(keys):
    private_pem, public_pem, _ = keys
    blob = core.encrypt_bytes(b"payload", public_pem)
    for field in [b"\x00\x02\x00\x01", b"\x01\x02\x00\x00", b"\x00\x01\x00\x00"]:
        with pytest.raises(DecryptionError, match="^RSA decryption failed: "):
            core.decrypt_auto(field + blob[4:], private_pem)
    # "HYBR" sends it to the legacy reader, whose key length is the wrapped key's first 4 bytes.
    legacy = b"HYBR" + blob[4:]
    key_end = 8 + int.from_bytes(legacy[4:8], "big")
    with pytest.raises(DecryptionError) as info:
        core.decrypt_auto(legacy, private_pem)
    if key_end >= len(legacy):
        assert str(info.value) == LEGACY_INVALID
    else:
        assert str(info.value).startswith("RSA decryption failed: ")


def test_a_544_byte_blob_holds_the_empty_message(keys):
    private_pem, _, key = keys
    blob = net_blob(key.public_key(), b"", os.urandom(32))
    assert len(blob) == 544
    assert core.decrypt_auto(blob, private_pem) == b""


@pytest.mark.parametrize("length", [0, 0xFFFFFFFF, 0xFFFFFFF8, 0x7FFFFFFF])
def test_legacy_key_lengths_reaching_the_end_are_refused_before_the_key(length):
    for tail in [b"", b"x" * 20]:
        blob = b"HYBR" + length.to_bytes(4, "big") + tail
        if 8 + length < len(blob):
            continue
        for call in [core.decrypt_auto, core._legacy_decrypt]:
            with pytest.raises(DecryptionError) as info:
                call(blob, "not a key")
            assert str(info.value) == LEGACY_INVALID and info.value.__cause__ is None


def test_legacy_key_length_one_short_of_the_end(keys):
    private_pem, _, key = keys
    wrapped = key.public_key().encrypt(os.urandom(32), OAEP)
    blob = b"HYBR" + len(wrapped).to_bytes(4, "big") + wrapped
    with pytest.raises(DecryptionError) as info:
        core.decrypt_auto(blob, private_pem)
    assert str(info.value) == LEGACY_INVALID
    # One byte after the key is enough for the layout, and too short for an envelope.
    with pytest.raises(DecryptionError) as info:
        core.decrypt_auto(blob + b"x", private_pem)
    assert str(info.value) == ENVELOPE_FAILURE and info.value.__cause__ is None


@pytest.mark.parametrize("where", ["wrapped key", "nonce", "ciphertext", "tag"])
def test_tampering_with_the_legacy_layout(keys, where):
    private_pem, _, key = keys
    aes_key = os.urandom(32)
    blob = legacy_blob(key.public_key(), b"legacy", aes_key, aes_key)
    index = {"wrapped key": 8, "nonce": 520, "ciphertext": 532, "tag": -1}[where]
    with pytest.raises(DecryptionError) as info:
        core.decrypt_auto(flip(blob, index), private_pem)
    if where == "wrapped key":
        assert str(info.value).startswith("RSA decryption failed: ")
    else:
        assert str(info.value) == ENVELOPE_FAILURE and info.value.__cause__ is None


@pytest.mark.parametrize("blob", [b"", b"HYBR", b"HYBR\x00\x00\x00", b"x" * 543, b"\x00\x02\x00\x00" + b"x" * 539])
def test_short_blobs_take_the_bare_oaep_path(keys, blob):
    with pytest.raises(DecryptionError, match="^RSA decryption failed: "):
        core.decrypt_auto(blob, keys[0])
    with pytest.raises(InvalidInputError, match="^Invalid RSA private key PEM: "):
        core.decrypt_auto(blob, "not a key")


@pytest.mark.parametrize("layout", ["length-prefixed", "legacy", "bare"])
@pytest.mark.parametrize("bad_key", ["not a key", b"bytes", "é", None])
def test_bad_key_text_is_reported_unwrapped_on_every_path(keys, layout, bad_key):
    _, public_pem, key = keys
    aes_key = os.urandom(32)
    blob = {"length-prefixed": lambda: core.encrypt_bytes(b"data", public_pem),
            "legacy": lambda: legacy_blob(key.public_key(), b"data", aes_key, aes_key),
            "bare": lambda: rsa_core._encrypt_oaep(b"data", public_pem)}[layout]()
    with pytest.raises(InvalidInputError) as info:
        core.decrypt_auto(blob, bad_key)
    assert type(info.value) is InvalidInputError
    assert str(info.value).startswith("Invalid RSA private key PEM: ") and info.value.__cause__ is not None


def test_bare_oaep_blocks_open(keys):
    private_pem, public_pem, _ = keys
    assert core.decrypt_auto(rsa_core.encrypt_bytes(b"small", public_pem), private_pem) == b"small"
    assert core.decrypt_auto(rsa_core._encrypt_oaep(b"", public_pem), private_pem) == b""


def test_envelopes_under_other_key_sizes_are_not_recognised():
    key = rsa.generate_private_key(65537, 2048)
    private_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                    serialization.NoEncryption()).decode()
    blob = net_blob(key.public_key(), b"data", os.urandom(32))
    assert blob[:4] == (256).to_bytes(4, "little")
    with pytest.raises(DecryptionError, match="^RSA decryption failed: "):
        core.decrypt_auto(blob, private_pem)


def test_unwrapped_keys_that_aes_cannot_use(keys):
    private_pem, _, key = keys
    blob = net_blob(key.public_key(), b"data", os.urandom(32))
    odd = blob[:4] + key.public_key().encrypt(os.urandom(20), OAEP) + blob[516:]
    # The key is refused before the nonce or the tag is looked at, also in blobs cut short.
    for call, cut in [(core.decrypt_auto, None), (core._net_decrypt, None), (core._net_decrypt, 530),
                      (core._net_decrypt, 520)]:
        with pytest.raises(Exception) as info:
            call(odd[:cut], private_pem)
        assert not isinstance(info.value, TesmarError)
        assert "key" in str(info.value)


@pytest.mark.parametrize("cut, expected", [(528, DecryptionError), (524, DecryptionError), (520, ValueError)])
def test_reading_cut_blobs_directly(keys, cut, expected):
    private_pem, public_pem, _ = keys
    blob = core.encrypt_bytes(b"data", public_pem)[:cut]
    with pytest.raises(expected) as info:
        core._net_decrypt(blob, private_pem)
    if expected is DecryptionError:
        assert str(info.value) == GCM_FAILURE
    else:
        assert not isinstance(info.value, TesmarError)


def test_encryption_failures(keys):
    _, public_pem, _ = keys
    for empty in [b"", None, bytearray()]:
        with pytest.raises(InvalidInputError, match="^Data cannot be empty$"):
            core.encrypt_bytes(empty, "not a key")
    with pytest.raises(InvalidInputError, match="^Invalid RSA public key PEM: "):
        core.encrypt_bytes(b"data", "not a key")
    # Data that is not bytes fails in the AES step, unwrapped.
    with pytest.raises(TypeError):
        core.encrypt_bytes("text", public_pem)


def test_text_variants(keys):
    private_pem, public_pem, key = keys
    ciphertext = core.encrypt_str("é", public_pem)
    blob = base64.b64decode(ciphertext, validate=True)
    assert len(blob) == 544 + 2 and pyca_open(key, blob) == "é".encode()
    assert core.decrypt_str(ciphertext, private_pem) == "é"
    assert core.decrypt_str(base64.b64encode(rsa_core._encrypt_oaep(b"bare", public_pem)).decode(),
                            private_pem) == "bare"
    with pytest.raises(InvalidInputError, match="^Plaintext cannot be empty$"):
        core.encrypt_str("", public_pem)
    with pytest.raises(DecryptionError, match="^Ciphertext is not valid Base64$"):
        core.decrypt_str(ciphertext[:-1] + "-", private_pem)
    with pytest.raises(DecryptionError, match="^Decrypted data is not valid UTF-8$"):
        core.decrypt_str(base64.b64encode(core.encrypt_bytes(b"\xc3", public_pem)).decode(), private_pem)


@settings(max_examples=examples(60), deadline=None)
@given(prefix=st.sampled_from([b"", b"HYBR", b"\x00\x02\x00\x00"]), body=st.binary(max_size=700))
def test_arbitrary_blobs_fail_cleanly(rsa_keys, prefix, body):
    with pytest.raises(DecryptionError):
        core.decrypt_auto(prefix + body, rsa_keys[0])


def test_awaited_round_trip(keys):
    private_pem, public_pem, _ = keys

    async def main():
        blob = await tesmar.hybrid.encrypt_bytes(b"async", public_pem)
        return await tesmar.hybrid.decrypt_bytes(blob, private_pem)

    assert asyncio.run(main()) == b"async"
