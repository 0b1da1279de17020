"""Fuzz targets: one per decoder of the core layer, each a function of one bytes input.

A target turns its input into arguments by a fixed rule (documented at each target, and followed by
make_corpus.py when it writes the seeds), calls the public core functions and checks what it can
beyond "no crash": answers against an independent oracle where one exists, agreement between the
entry points that must agree, booleans from checking operations, and the kind of every exception.
A broken expectation raises Finding; the fuzzer (run.py) and the normal suite
(tests/test_fuzz_regressions.py) treat that like a crash.

Only tesmar's errors of the kinds named at each target, and ordinary built-in errors where a target
allows them, may come out of a call.
"""
import base64
import binascii
import functools
import hashlib
import io
import json
import pathlib
import struct

KEYS = pathlib.Path(__file__).resolve().parent / "keys"

# Key texts for the symmetric targets: the Base64 text of a raw key, and a passphrase.
AES_KEYS = ("q83vEjRWeJCrze8SNFZ4kKvN7xI0VniQq83vEjRWeJA=", "fuzzing passphrase")
# Post-quantum schemes with a fixed key pair each (the first input byte picks one), at strength 0
# except scheme 4, which has one parameter set.
SCHEMES = ((2, 0), (4, 2), (5, 0), (6, 0), (7, 0), (8, 0))
# Signature verifiers (the first input byte picks one): RSA-PSS bytes and text, then
# (algorithm, strength) of the post-quantum ones.
SIGNERS = ("pss", "pss_str", (1, 0), (1, 1), (1, 2), (2, 0), (2, 1), (2, 2))


class Finding(AssertionError):
    """A target's expectation broke: a defect to fix, never an answer to a hostile input."""


def text(data):
    """Input bytes as text: UTF-8 where valid; other bytes become lone surrogates, which have no
    UTF-8 form and so also exercise the encoding-error paths."""
    return data.decode("utf-8", "surrogateescape")


def split(data, width=2):
    """(first part, rest), the first part's length read from the leading `width` bytes (LE)."""
    n = int.from_bytes(data[:width], "little")
    body = data[width:]
    return body[:n], body[n:]


def _tesmar_error():
    from tesmar.errors import TesmarError

    return TesmarError


ORDINARY = (TypeError, ValueError, KeyError, OverflowError, UnicodeError, BufferError)


def answer(call, *kinds, ordinary=False):
    """(result, None) when call() returns, (None, exception) when it raises one of `kinds` (or an
    ordinary built-in error, when `ordinary`); any other exception, SystemError above all, is a
    Finding."""
    try:
        return call(), None
    except Exception as exc:  # noqa: BLE001 - judged here
        if isinstance(exc, SystemError):
            raise Finding(f"SystemError: {exc!r}") from exc
        if isinstance(exc, kinds):
            return None, exc
        if ordinary and isinstance(exc, ORDINARY) and type(exc).__module__ == "builtins":
            return None, exc
        raise Finding(f"unexpected {type(exc).__name__}: {exc!r}") from exc


def expect(call, *kinds, ordinary=False):
    """call()'s result, or None when it raised an exception it may raise (see answer)."""
    return answer(call, *kinds, ordinary=ordinary)[0]


def refused(call, *kinds, ordinary=False):
    """The exception that call() raised (judged as by answer), or None if it returned."""
    return answer(call, *kinds, ordinary=ordinary)[1]


def boolean(value, what):
    if value is not True and value is not False:
        raise Finding(f"{what} answered {value!r}, not a bool")
    return value


# ---------------------------------------------------------------------------------------------
# Key material, loaded once per process from fuzz/keys (written by make_corpus.py).

@functools.cache
def rsa_pair():
    return (KEYS / "rsa_private.pem").read_text(), (KEYS / "rsa_public.pem").read_text()


@functools.cache
def quantum_private(scheme):
    return (KEYS / f"quantum_{scheme}.key").read_bytes()


@functools.cache
def signature_public(algorithm, strength):
    return (KEYS / f"signature_{algorithm}_{strength}.pub").read_bytes()


# ---------------------------------------------------------------------------------------------
# The strict Base64 rule and key text.

def strict_base64(s):
    """The oracle: binascii in strict mode, plus the rule's own demands (not empty, ASCII, a
    multiple of 4 characters)."""
    if not s or len(s) % 4:
        return None
    try:
        raw = s.encode("ascii")
    except UnicodeEncodeError:
        return None
    try:
        return binascii.a2b_base64(raw, strict_mode=True)
    except binascii.Error:
        return None


def base64_keys(data):
    """Input: the text itself. _try_base64 against the oracle; convert_key against its rule."""
    from tesmar._internal import keys

    s = text(data)
    want = strict_base64(s)
    got = expect(lambda: keys._try_base64(s))
    if got != want:
        raise Finding(f"_try_base64({s!r}) = {got!r}, strict Base64 says {want!r}")
    if want is None:
        try:
            expected = hashlib.sha256(s.encode()).digest()
        except UnicodeEncodeError:
            expected = UnicodeEncodeError
    elif len(want) in (32, 64):
        expected = want[:32]
    else:
        expected = hashlib.sha256(want).digest()
    if expected is UnicodeEncodeError:
        # Text with a lone surrogate has no UTF-8 form: the interpreter's own error comes out.
        exc = refused(lambda: keys.convert_key(s), UnicodeEncodeError)
        if exc is None:
            raise Finding(f"convert_key({s!r}) accepted text with no UTF-8 form")
        return
    key = expect(lambda: keys.convert_key(s))
    if key != expected:
        raise Finding(f"convert_key({s!r}) = {key.hex()}, the rule gives {expected.hex()}")


# ---------------------------------------------------------------------------------------------
# AES-GCM envelopes.

def aes_decrypt(data):
    """Input: byte 0 picks the key text (even: raw key, odd: passphrase); the rest is the envelope,
    given as bytes and, as text, to decrypt_str."""
    from tesmar.aes import core as aes
    from tesmar.errors import DecryptionError, InvalidInputError

    if not data:
        return
    key = AES_KEYS[data[0] & 1]
    blob = data[1:]
    plain = expect(lambda: aes.decrypt_bytes(blob, key), DecryptionError, InvalidInputError)
    if plain is not None and aes.decrypt_bytes(aes.encrypt_bytes(plain, key), key) != plain:
        raise Finding("an opened envelope's data does not survive a round trip")
    s = text(blob)
    exc = refused(lambda: aes.decrypt_str(s, key), DecryptionError, InvalidInputError, UnicodeError)
    if strict_base64(s) is None and s:
        if not isinstance(exc, DecryptionError) or str(exc) != "Ciphertext is not valid Base64":
            raise Finding(f"decrypt_str took {s!r}, which is not strict Base64 ({exc!r})")
    elif exc is None and plain is None and strict_base64(s) is not None:
        opened = refused(lambda: aes.decrypt_bytes(strict_base64(s), key), DecryptionError, InvalidInputError)
        if opened is not None:
            raise Finding("decrypt_str opened text whose bytes decrypt_bytes refuses")


# ---------------------------------------------------------------------------------------------
# RSA.

def rsa_pem(data):
    """Input: PEM text (or anything) for both loaders; whatever loads as a public key must answer a
    signature check with a bool."""
    from tesmar.errors import InvalidInputError
    from tesmar.rsa import core as rsa

    pem = text(data)
    for load, what in ((rsa._load_private, "private"), (rsa._load_public, "public")):
        # A loader refuses with its fixed prefix and the lower failure kept as the cause.
        exc = refused(lambda: load(pem), InvalidInputError)
        prefix = f"Invalid RSA {what} key PEM: "
        if exc is not None and (not str(exc).startswith(prefix) or exc.__cause__ is None):
            raise Finding(f"_load_{what} refused with {exc!r} (cause {exc.__cause__!r})")
    public = exc
    if public is None:
        ok, exc = answer(lambda: rsa.verify_bytes(b"data", b"\x00" * 512, pem), InvalidInputError)
        if exc is None:
            boolean(ok, "verify_bytes under a loaded public key")


def rsa_oaep(data):
    """Input: an OAEP block (or anything) for _decrypt_oaep under the fixed private key, and its
    text for decrypt_str."""
    from tesmar.errors import DecryptionError, InvalidInputError
    from tesmar.rsa import core as rsa

    private, _ = rsa_pair()
    plain = expect(lambda: rsa._decrypt_oaep(data, private), DecryptionError, InvalidInputError)
    if plain is not None and len(plain) > rsa.MAX_OAEP_PLAINTEXT:
        raise Finding(f"an OAEP block of {len(plain)} bytes opened")
    expect(lambda: rsa.decrypt_str(text(data), private), DecryptionError, InvalidInputError)


def hybrid_decrypt(data):
    """Input: a blob of any hybrid layout for decrypt_auto; rsa.decrypt_bytes must agree with it
    (every RSA decryption goes through decrypt_auto)."""
    from tesmar.errors import DecryptionError, InvalidInputError
    from tesmar.hybrid import core as hybrid
    from tesmar.rsa import core as rsa

    private, _ = rsa_pair()
    kinds = (DecryptionError, InvalidInputError)
    exc = refused(lambda: hybrid.decrypt_auto(data, private), *kinds)
    if exc is None:
        plain = hybrid.decrypt_auto(data, private)
        if rsa.decrypt_bytes(data, private) != plain:
            raise Finding("rsa.decrypt_bytes and decrypt_auto disagree on an envelope")
    s = text(data)
    exc_str = refused(lambda: hybrid.decrypt_str(s, private), *kinds, UnicodeError)
    if exc_str is None and strict_base64(s) is None:
        raise Finding(f"hybrid.decrypt_str opened {s!r}, which is not strict Base64")


# ---------------------------------------------------------------------------------------------
# Password records.

# Records asking for more iterations than this are only parsed and asked about, not verified, so
# that one input cannot hold the fuzzer for seconds (the work an iteration count asks for is the
# point of the count, not a defect).
MAX_FUZZ_ITERATIONS = 4096


def _iterations(parsed):
    try:
        return int(parsed["parameters"]["iterations"])
    except Exception:  # noqa: BLE001 - any unreadable count is the record's problem
        return 0


def password_record(data):
    """Input: byte 0 is the password's length n, bytes 1..n the password, the rest the record."""
    from tesmar.errors import InvalidInputError
    from tesmar.password import core as password

    if not data:
        return
    pw, record = text(data[1:1 + data[0]]), text(data[1 + data[0]:])
    parsed = expect(lambda: password._parse(record), ordinary=False)
    if parsed is not None and not isinstance(parsed, dict):
        raise Finding(f"_parse answered {type(parsed).__name__}")
    try:
        as_json = json.loads(record)
    except (ValueError, RecursionError):
        as_json = None
    if (parsed is None) != (not isinstance(as_json, dict)):
        raise Finding(f"_parse({record[:80]!r}) = {parsed!r} where the JSON codec reads {type(as_json).__name__}")
    rehash = boolean(expect(lambda: password.needs_rehash(record)), "needs_rehash")
    if parsed is None and not rehash:
        raise Finding("needs_rehash said False for a record that is not a JSON object")
    if parsed is None or _iterations(parsed) <= MAX_FUZZ_ITERATIONS:
        # Problems of the password itself (empty, no UTF-8 form) are outside the record: they may raise.
        ok, exc = answer(lambda: password.verify_password(pw, record), InvalidInputError, UnicodeError)
        if exc is None:
            boolean(ok, "verify_password")
        if parsed is None and ok:
            raise Finding("verify_password accepted a record that is not a JSON object")


# ---------------------------------------------------------------------------------------------
# Post-quantum family.

def quantum_decrypt(data):
    """Input: byte 0 picks the scheme (of SCHEMES), then the secret with a 2-byte length in front,
    then the message; decrypted under the scheme's fixed private key."""
    from tesmar.errors import DecryptionError, InvalidInputError, QuantumOperationError
    from tesmar.quantum import core as quantum

    if not data:
        return
    scheme, _ = SCHEMES[data[0] % len(SCHEMES)]
    secret, message = split(data[1:])
    # A degenerate X25519 peer key and a strength byte outside 0..2 come out as the primitive's
    # ValueError and the mechanism table's KeyError, unwrapped: ordinary errors are allowed here.
    out, exc = answer(lambda: quantum.decrypt(message, quantum_private(scheme), secret),
                      DecryptionError, InvalidInputError, QuantumOperationError, ordinary=True)
    if exc is None and not isinstance(out, str):
        raise Finding(f"decrypt answered {type(out).__name__}")


def quantum_keys(data):
    """Input: byte 0 picks the entry point, the rest is a key (header and raw key) with, for the
    decryption and verification, a 2-byte-length-prefixed key followed by the other argument."""
    from tesmar.errors import DecryptionError, InvalidInputError, QuantumOperationError, SignatureError
    from tesmar.quantum import core as quantum

    if not data:
        return
    entry, body = data[0] % 4, data[1:]
    kinds = (InvalidInputError, QuantumOperationError, DecryptionError, SignatureError)
    # As in quantum_decrypt, ordinary errors (the X25519 primitive's, the mechanism table's) may
    # come out; the entry points' own bad-key errors are InvalidInputError or QuantumOperationError.
    ordinary = {"ordinary": True}
    if entry == 0:
        expect(lambda: quantum.encrypt("fuzz", body), *kinds, **ordinary)
    elif entry == 1:
        key, rest = split(body)
        secret, message = split(rest)
        expect(lambda: quantum.decrypt(message, key, secret), *kinds, **ordinary)
    elif entry == 2:
        signature = expect(lambda: quantum.sign(b"fuzz", body), *kinds, **ordinary)
        if signature is not None and not isinstance(signature, bytes):
            raise Finding("sign answered something other than bytes")
    else:
        key, signature = split(body)
        ok, exc = answer(lambda: quantum.verify(b"fuzz", signature, key), *kinds, **ordinary)
        if exc is None:
            boolean(ok, "quantum verify")


def signature_verify(data):
    """Input: byte 0 picks the verifier (of SIGNERS), then the signature with a 2-byte length in
    front, then the signed data. Every verifier answers a bool; RSA-PSS against pyca's verdict."""
    from tesmar.errors import InvalidInputError
    from tesmar.quantum import core as quantum
    from tesmar.rsa import core as rsa

    if not data:
        return
    signer = SIGNERS[data[0] % len(SIGNERS)]
    signature, message = split(data[1:])
    if signer == "pss":
        _, public = rsa_pair()
        ok = boolean(expect(lambda: rsa.verify_bytes(message, signature, public)), "verify_bytes")
        if ok != pss_oracle(message, signature):
            raise Finding(f"verify_bytes says {ok}, pyca says {not ok}")
    elif signer == "pss_str":
        _, public = rsa_pair()
        s = text(signature)
        pt = text(message)
        ok, exc = answer(lambda: rsa.verify_str(pt, s, public), InvalidInputError, UnicodeError)
        if exc is None:
            boolean(ok, "verify_str")
        raw = strict_base64(s)
        if ok and (raw is None or not rsa.verify_bytes(pt.encode(), raw, public)):
            raise Finding(f"verify_str accepted {s!r}")
    else:
        algorithm, strength = signer
        boolean(expect(lambda: quantum.verify(message, signature, signature_public(algorithm, strength))),
                "quantum verify")


@functools.cache
def _pss_public():
    from cryptography.hazmat.primitives import serialization

    return serialization.load_pem_public_key(rsa_pair()[1].encode())


def pss_oracle(message, signature):
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import padding

    try:
        _pss_public().verify(bytes(signature), bytes(message),
                             padding.PSS(mgf=padding.MGF1(hashes.SHA256()), salt_length=32), hashes.SHA256())
    except (InvalidSignature, ValueError):
        return False
    return True


# ---------------------------------------------------------------------------------------------
# Files and streams.

def files_decrypt(data):
    """Input: byte 0 picks AES (even) or hybrid (odd) decryption, byte 1 the piece size (0 for the
    default, else 1..255); the rest is the source stream. The output must be what the one-shot
    decryption gives, or, on failure, the same kind of error and nothing written."""
    from tesmar.aes import core as aes
    from tesmar.errors import DecryptionError, InvalidInputError
    from tesmar.files import core as files
    from tesmar.hybrid import core as hybrid

    if len(data) < 2:
        return
    hybrid_mode = data[0] & 1
    options = {"chunk_size": data[1]} if data[1] else {}
    blob = data[2:]
    if hybrid_mode:
        private, _ = rsa_pair()
        stream = lambda s, t: files.hybrid_decrypt_file(s, t, private, **options)  # noqa: E731
        whole = lambda: hybrid.decrypt_auto(blob, private)  # noqa: E731
    else:
        stream = lambda s, t: files.aes_decrypt_file(s, t, AES_KEYS[0], **options)  # noqa: E731
        whole = lambda: aes.decrypt_bytes(blob, AES_KEYS[0])  # noqa: E731
    kinds = (DecryptionError, InvalidInputError)
    target = io.BytesIO()
    exc = refused(lambda: stream(io.BytesIO(blob), target), *kinds)
    expected_exc = refused(whole, *kinds)
    if exc is not None:
        if target.getvalue():
            raise Finding(f"{len(target.getvalue())} bytes written before the failure {exc!r}")
        if type(exc) is not type(expected_exc):
            raise Finding(f"the stream failed with {exc!r}, the one-shot call with {expected_exc!r}")
    elif expected_exc is not None:
        raise Finding(f"the stream opened what the one-shot call refuses ({expected_exc!r})")
    elif target.getvalue() != whole():
        raise Finding("the stream and the one-shot call give different plaintexts")


def inspect_blob(data):
    """Input: the head of a blob; byte 0 chooses whether the declared size is the head's or more."""
    from tesmar import cli

    if not data:
        return
    head = data[1:]
    size = len(head) + (0 if data[0] < 128 else data[0] * 1000)
    info = expect(lambda: cli._describe(head, size))
    if not isinstance(info, dict) or "kind" not in info:
        raise Finding(f"_describe answered {info!r}")
    json.dumps(info, default=str)


# name -> (target, maximum input length). The order is the order of `make fuzz` (cheap ones first).
TARGETS = {
    "base64_keys": (base64_keys, 512),
    "aes_decrypt": (aes_decrypt, 4096),
    "password_record": (password_record, 2048),
    "inspect_blob": (inspect_blob, 4096),
    "rsa_pem": (rsa_pem, 8192),
    "quantum_keys": (quantum_keys, 65536),
    "signature_verify": (signature_verify, 65536),
    "files_decrypt": (files_decrypt, 8192),
    "rsa_oaep": (rsa_oaep, 2048),
    "hybrid_decrypt": (hybrid_decrypt, 8192),
    "quantum_decrypt": (quantum_decrypt, 65536),
}
