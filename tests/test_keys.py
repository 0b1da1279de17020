"""Key text to AES key, and the strict Base64 rule."""
import base64
import binascii
import hashlib
import string

import pytest
from hypothesis import given, strategies as st

from tesmar._internal.keys import AES_KEY_SIZE, _try_base64, convert_key

B64_CHARS = string.ascii_letters + string.digits + "+/="


def reference_strict_b64(s):
    """A small independent statement of the strict rule."""
    if not s or len(s) % 4:
        return None
    body = s.rstrip("=")
    pad = len(s) - len(body)
    if pad > 2 or any(c not in B64_CHARS[:-1] for c in body):
        return None
    try:
        return base64.b64decode(s, validate=True)
    except (binascii.Error, ValueError):
        return None


@given(st.text(alphabet=B64_CHARS + " -_\n\xe9", max_size=24))
def test_try_base64_matches_reference(s):
    assert _try_base64(s) == reference_strict_b64(s)


@given(st.binary(max_size=80))
def test_try_base64_round_trips_standard_encoding(data):
    text = base64.b64encode(data).decode()
    assert _try_base64(text) == (data or None)


@pytest.mark.parametrize(
    "text",
    ["", "abc", "abcd\n", "ab+/ cd=", "ab-_", "ab_d", "====", "A===", "AB=C", "=ABC", "AB==AB==", "ABC=ABCD", "ÄBCD"],
)
def test_try_base64_rejects(text):
    assert _try_base64(text) is None


def test_unused_low_bits_are_ignored():
    assert _try_base64("AB==") == _try_base64("AA==") == b"\x00"


def test_raw_keys_are_taken_as_they_are():
    raw = bytes(range(32))
    assert convert_key(base64.b64encode(raw).decode()) == raw
    other_tail = base64.b64encode(raw + b"\xff" * 32).decode()
    assert convert_key(other_tail) == raw == convert_key(base64.b64encode(raw + bytes(32)).decode())


@pytest.mark.parametrize(
    "text, digest_of",
    [
        (base64.b64encode(bytes(16)).decode(), bytes(16)),  # other Base64 lengths: digest of decoded bytes
        ("abcd", base64.b64decode("abcd")),  # four letters are Base64
        ("abcde", b"abcde"),  # five are not
        (base64.b64encode(bytes(32)).decode() + "\n", base64.b64encode(bytes(32)) + b"\n"),
        ("ab-_", b"ab-_"),
        ("====", b"===="),
        ("A===", b"A==="),
        ("clé!", "clé!".encode()),
        ("", b""),
    ],
)
def test_derived_keys(text, digest_of):
    key = convert_key(text)
    assert key == hashlib.sha256(digest_of).digest()
    assert len(key) == AES_KEY_SIZE == 32


def test_lone_surrogate_raises_the_encoding_error():
    with pytest.raises(UnicodeEncodeError):
        convert_key("ab\ud800")


@pytest.mark.parametrize("text", ["\ud800", "abc\udfff", "\ud800" * 4])
def test_lone_surrogate_is_not_base64(text):
    assert _try_base64(text) is None


@pytest.mark.parametrize("bad", [b"abcd", None, 5])
def test_non_text_is_a_type_error(bad):
    with pytest.raises(TypeError):
        convert_key(bad)
