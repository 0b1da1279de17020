"""The AES-256-GCM envelope: layout, failures, and interoperability with pyca/cryptography."""
import base64
import os
import threading

import pytest
from cryptography.hazmat.primitives.ciphers.aead import AESGCM

from tesmar.aes import core
from tesmar.errors import DecryptionError, InvalidInputError

ENVELOPE_FAILURE = (
    "AES decryption failed: data is not valid AES-GCM (legacy AES-CBC+HMAC not yet supported, "
    "or wrong key/tampered data)."
)
RAW_KEY = bytes(range(32))
RAW_KEY_TEXT = base64.b64encode(RAW_KEY).decode()


def test_constants():
    assert (core.GCM_NONCE_SIZE, core.GCM_TAG_SIZE) == (12, 16)


@pytest.mark.parametrize("size", [1, 15, 16, 17, 1000, 1 << 20])
def test_round_trip_and_size(size):
    data = os.urandom(size)
    blob = core.encrypt_bytes(data, "passphrase")
    assert len(blob) == size + 28
    assert core.decrypt_bytes(blob, "passphrase") == data


def test_fresh_nonce_every_time():
    blobs = {core.encrypt_bytes(b"same", "k") for _ in range(50)}
    assert len(blobs) == 50 and len({b[:12] for b in blobs}) == 50


@pytest.mark.parametrize("data", [bytearray(b"abc"), memoryview(b"xabcx")[1:4]])
def test_bytes_like_data(data):
    assert core.decrypt_bytes(core.encrypt_bytes(data, "k"), "k") == b"abc"


@pytest.mark.parametrize("data", [b"", None, bytearray()])
def test_empty_data_refused(data):
    with pytest.raises(InvalidInputError) as info:
        core.encrypt_bytes(data, "k")
    assert str(info.value) == "Data cannot be empty" and info.value.__cause__ is None


def test_every_bit_flip_is_detected():
    blob = core.encrypt_bytes(b"attack at dawn", "k")
    for i in range(len(blob)):
        for bit in (0, 7):
            bad = bytearray(blob)
            bad[i] ^= 1 << bit
            with pytest.raises(DecryptionError) as info:
                core.decrypt_bytes(bytes(bad), "k")
            assert str(info.value) == ENVELOPE_FAILURE


@pytest.mark.parametrize("blob", [b"", b"\x00" * 28, os.urandom(29), os.urandom(100)])
def test_short_or_foreign_blobs(blob):
    with pytest.raises(DecryptionError) as info:
        core.decrypt_bytes(blob, "k")
    assert str(info.value) == ENVELOPE_FAILURE and info.value.__cause__ is None


def test_wrong_key_and_truncation():
    blob = core.encrypt_bytes(b"x", "right")
    assert len(blob) == 29 and core.decrypt_bytes(blob, "right") == b"x"
    for bad_blob, key in [(blob, "wrong"), (blob[:-1], "right"), (blob + b"\x00", "right")]:
        with pytest.raises(DecryptionError, match="^AES decryption failed"):
            core.decrypt_bytes(bad_blob, key)


def test_pyca_envelopes_decrypt_here():
    nonce = os.urandom(12)
    sealed = AESGCM(RAW_KEY).encrypt(nonce, "héllo".encode(), None)
    assert core.decrypt_bytes(nonce + sealed, RAW_KEY_TEXT) == "héllo".encode()
    assert core.decrypt_str(base64.b64encode(nonce + sealed).decode(), RAW_KEY_TEXT) == "héllo"


def test_envelopes_decrypt_in_pyca():
    blob = core.encrypt_bytes(b"to pyca", RAW_KEY_TEXT)
    assert AESGCM(RAW_KEY).decrypt(blob[:12], blob[12:], None) == b"to pyca"
    # a passphrase key is the SHA-256 of its text
    import hashlib

    blob = core.encrypt_bytes(b"p", "correct horse")
    assert AESGCM(hashlib.sha256(b"correct horse").digest()).decrypt(blob[:12], blob[12:], None) == b"p"


@pytest.mark.parametrize("text", [" ", "plain ascii", "ünïcödé ✓ 🔐", "x" * 10000])
def test_text_round_trip(text):
    token = core.encrypt_str(text, "k")
    assert base64.b64decode(token, validate=True)
    assert len(base64.b64decode(token)) == len(text.encode()) + 28
    assert core.decrypt_str(token, "k") == text


def test_empty_plaintext_refused():
    with pytest.raises(InvalidInputError) as info:
        core.encrypt_str("", "k")
    assert str(info.value) == "Plaintext cannot be empty"


@pytest.mark.parametrize("token", ["abc", "YWJj\n", "YW Jj", "YW-j", "é===", 12, None, ["x"]])
def test_bad_base64_text(token):
    with pytest.raises(DecryptionError) as info:
        core.decrypt_str(token, "k")
    assert str(info.value) == "Ciphertext is not valid Base64"
    assert isinstance(info.value.__cause__, (ValueError, TypeError))


def test_bytes_token_is_decoded_like_text():
    token = core.encrypt_str("bytes token", "k")
    assert core.decrypt_str(token.encode(), "k") == "bytes token"


def test_empty_token_is_too_short_not_bad_base64():
    with pytest.raises(DecryptionError) as info:
        core.decrypt_str("", "k")
    assert str(info.value) == ENVELOPE_FAILURE


def test_plaintext_that_is_not_utf8():
    token = base64.b64encode(core.encrypt_bytes(b"\xff", "k")).decode()
    with pytest.raises(DecryptionError) as info:
        core.decrypt_str(token, "k")
    assert str(info.value) == "Decrypted data is not valid UTF-8"
    assert isinstance(info.value.__cause__, UnicodeDecodeError)


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.encrypt_str("a\ud800", "k"),
        lambda: core.encrypt_str("a", "k\udfff"),
        lambda: core.encrypt_bytes(b"a", "k\ud800"),
        lambda: core.decrypt_bytes(b"a" * 40, "\ud800"),
    ],
)
def test_lone_surrogates_raise_the_encoding_error_unwrapped(call):
    with pytest.raises(UnicodeEncodeError):
        call()


@pytest.mark.parametrize(
    "call",
    [
        lambda: core.encrypt_bytes("text", "k"),
        lambda: core.encrypt_bytes(b"x", b"k"),
        lambda: core.decrypt_bytes("text", "k"),
        lambda: core.encrypt_str(b"x", "k"),
    ],
)
def test_wrong_argument_types(call):
    with pytest.raises(TypeError):
        call()


def test_empty_key_text_is_a_key():
    assert core.decrypt_str(core.encrypt_str("x", ""), "") == "x"
    with pytest.raises(DecryptionError):
        core.decrypt_str(core.encrypt_str("x", ""), " ")


def test_threads_share_nothing():
    results = []

    def work(i):
        data = os.urandom(1000 + i)
        results.append(core.decrypt_bytes(core.encrypt_bytes(data, str(i)), str(i)) == data)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [True] * 8



# Large plaintexts: a thread keeps its last block of 128 KiB to 4 MiB for the next one of the same
# size (in 64 KiB steps). Sizes that land in the same step, the next one, either side of the limits,
# and a block kept by one thread and never by another must all decrypt whole.
KEPT = [128 << 10, (128 << 10) - 1, (192 << 10) - 1, 192 << 10, (192 << 10) + 1, 4 << 20, (4 << 20) + 1,
        (192 << 10) - 1, 300_000, 300_000]


def test_large_texts_of_changing_sizes_on_several_threads():
    texts = {n: chr(0x41 + n % 26) * (n - 2) + "é" for n in set(KEPT)}  # n UTF-8 bytes, not all ASCII
    sealed = {n: core.encrypt_str(t, "k") for n, t in texts.items()}
    failures = []

    def work(order):
        for n in order:
            if core.decrypt_str(sealed[n], "k") != texts[n]:
                failures.append(n)

    threads = [threading.Thread(target=work, args=(KEPT[i:] + KEPT[:i],)) for i in range(4)]
    for t in threads:
        t.start()
    work(list(reversed(KEPT)))
    for t in threads:
        t.join()
    assert failures == []
