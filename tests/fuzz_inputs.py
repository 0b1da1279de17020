"""Odd and hostile arguments for the native functions, shared by the fuzz tests and fuzz/hostile.py.

Every native function is called with arguments drawn from three pools: values of the wrong kind
(None, floats, huge ints, text with lone surrogates, buffers that are not plain bytes), random
bytes and text, and real material of the package (keys, envelopes, records) mutated a little so
that the calls get past the first checks and into the parsers.
"""
import array
import base64
import ctypes
import enum
import importlib
import inspect
import json
import random
import threading

MODULES = [
    "tesmar.aes.core",
    "tesmar._internal.keys",
    "tesmar.rsa.core",
    "tesmar.hybrid.core",
    "tesmar.password.core",
    "tesmar.quantum.core",
    "tesmar.quantum._oqs",
    "tesmar.files.core",
    "tesmar.cli",
]

# Slow on purpose whatever the arguments (RSA-4096 generation, keys of every mechanism): called
# with a handful of argument sets only.
SLOW = {
    ("tesmar.rsa.core", "new_key_pair"),
    ("tesmar.quantum.core", "_gen7_generate"),
    ("tesmar.quantum.core", "generate_keypair"),
}

# Integer parameters that set an amount of work (PBKDF2 iterations, output lengths): the fuzzer
# keeps their int values small so that a call ends quickly; other kinds of value still reach them.
WORK_PARAMS = {"iterations", "length", "n"}


def native_functions():
    """(module name, function name, function) of every native function of the core modules."""
    out = []
    for modname in MODULES:
        mod = importlib.import_module(modname)
        for name, obj in sorted(vars(mod).items()):
            if type(obj).__name__ == "native_function":
                out.append((modname, name, obj))
    return out


class Index:
    """An int-like object whose __index__ raises or returns odd values."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, BaseException):
            raise self.value
        return self.value

    __int__ = __index__


class BadStr(str):
    pass


class BadBytes(bytes):
    pass


class Shape(enum.IntEnum):
    ONE = 1


class ExportsBuffer:
    """A Python object with the buffer protocol (PEP 688) over a mutable bytearray."""

    def __init__(self, data):
        self.data = bytearray(data)

    def __buffer__(self, flags):
        return memoryview(self.data)


class RaisingBuffer:
    def __buffer__(self, flags):
        raise RuntimeError("no buffer today")


def released_view():
    m = memoryview(b"abc")
    m.release()
    return m


def odd_values():
    """Values of the wrong kind or shape for any parameter."""
    big = 2**200
    vals = [
        None, True, False, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -1, -2, 255, 256, 2**31, 2**32, 2**63 - 1, 2**63,
        2**64, -(2**63), -(2**63) - 1, big, -big, 1.5, -0.0, float("nan"), float("inf"), 1j,
        "", "a", "\ud800", "abc\udfff", "é", "\x00", "A" * 44, "=", "AAAA", "AAA=", "AA==",
        b"", b"\x00", b"\xff" * 3, bytearray(b"abc"), bytearray(), memoryview(b"abcdef"),
        memoryview(b"abcdef")[::2], memoryview(b"abcdef")[::-1], memoryview(b"abcdef")[1:1],
        memoryview(bytearray(b"abcdefgh")).cast("B", [2, 4]), memoryview(b"abcdefgh").cast("B", [2, 4])[::2],
        memoryview(array.array("i", [1, 2, 3])), memoryview(array.array("d", [1.0, 2.0]))[::-1],
        memoryview(b"x" * 64).cast("Q"), memoryview(bytearray(32)).toreadonly(),
        array.array("b", [1, -1]), array.array("w", "ab"), ctypes.create_string_buffer(8),
        released_view(), ExportsBuffer(b"\x01" * 32), RaisingBuffer(),
        object(), [], [1, 2], (), (b"a",), {}, {"a": 1}, set(), frozenset(), type, len,
        Index(1), Index(-1), Index(2**70), Index(ValueError("bad index")), Index(KeyError("k")),
        BadStr("abc"), BadBytes(b"abc"), Shape.ONE, Ellipsis,
    ]
    return vals


def mutate(rng, data):
    """A few random edits (flip, cut, grow, splice) of a byte string or a text."""
    text = isinstance(data, str)
    b = bytearray(data.encode("utf-8", "surrogatepass") if text else data)
    for _ in range(rng.randint(1, 3)):
        op = rng.randrange(6)
        if op == 0 and b:
            i = rng.randrange(len(b))
            b[i] ^= 1 << rng.randrange(8)
        elif op == 1 and b:
            del b[rng.randrange(len(b)) :]
        elif op == 2:
            b += rng.randbytes(rng.randint(1, 16))
        elif op == 3 and b:
            i = rng.randrange(len(b))
            b[i : i + 1] = bytes([rng.choice([0, 1, 0x7F, 0x80, 0xFF])])
        elif op == 4 and len(b) > 4:
            # A length or count field set to something large.
            i = rng.randrange(len(b) - 4)
            b[i : i + 4] = rng.choice([b"\xff\xff\xff\xff", b"\x00\x00\x00\x80", b"\xff\xff\xff\x7f"])
        elif op == 5 and b:
            del b[: rng.randrange(len(b))]
    if text:
        return b.decode("utf-8", "surrogateescape")
    return bytes(b)


def password_records(rng):
    good = {
        "algorithm": "PBKDF2",
        "hash": base64.b64encode(bytes(64)).decode(),
        "parameters": {"hashAlgorithm": "SHA512", "iterations": 1, "outputLength": 64, "saltLength": 32},
        "salt": base64.b64encode(bytes(32)).decode(),
        "version": 1,
    }
    odd = [None, -1, 0, 1, 2**70, "1", "x", 1.5, [], {}, "\ud800", float("nan"), 1e300, "SHA1", "MD5",
           "SHA512", "SHA256", ""]
    out = [json.dumps(good)]
    for _ in range(12):
        rec = json.loads(json.dumps(good))
        where = rng.choice([rec, rec["parameters"]])
        key = rng.choice(list(where) + ["hashAlgorithm", "outputLength", "iterations", "salt", "hash"])
        if rng.random() < 0.2:
            where.pop(key, None)
        else:
            where[key] = rng.choice(odd)
        if isinstance(rec["parameters"].get("iterations"), int) and rec["parameters"]["iterations"] > 1000:
            rec["parameters"]["iterations"] = 1000
        if isinstance(rec["parameters"].get("iterations"), float) and rec["parameters"]["iterations"] > 1000:
            rec["parameters"]["iterations"] = 1000.5
        try:
            out.append(json.dumps(rec, allow_nan=True, ensure_ascii=rng.random() < 0.5))
        except (UnicodeError, ValueError):
            pass
    out += ["", "{", "[]", "null", "1", '"x"', "{}", '{"salt": 1}', "\ud800", '{"a": NaN}', "[" * 5000]
    return out


class Material:
    """Real keys and envelopes of every family, and calls that succeed with them."""

    def __init__(self, rsa_keys, scheme_pair):
        from tesmar._internal import keys
        from tesmar.aes import core as aes
        from tesmar.hybrid import core as hybrid
        from tesmar.password import core as password
        from tesmar.quantum import _oqs
        from tesmar.quantum import core as quantum
        from tesmar.rsa import core as rsa

        key = base64.b64encode(bytes(range(32))).decode()
        priv, pub = rsa_keys
        record = password.hash_password("pw", 1)
        calls = [
            (aes.decrypt_bytes, (aes.encrypt_bytes(b"secret", key), key)),
            (aes.decrypt_str, (aes.encrypt_str("secret", key), key)),
            (keys.convert_key, (key,)),
            (keys._try_base64, (key,)),
            (rsa.decrypt_bytes, (rsa.encrypt_bytes(b"secret", pub), priv)),
            (rsa.verify_bytes, (b"secret", rsa.sign_bytes(b"secret", priv), pub)),
            (rsa.verify_str, ("secret", rsa.sign_str("secret", priv), pub)),
            (rsa._load_public, (pub,)),
            (hybrid.decrypt_auto, (hybrid.encrypt_bytes(b"secret", pub), priv)),
            (hybrid.decrypt_str, (hybrid.encrypt_str("secret", pub), priv)),
            (password.verify_password, ("pw", record)),
            (password.needs_rehash, (record,)),
            (password._derive, ("pw", b"salt", 2, 40, "sha256")),
            (quantum._gcm_open, (bytes(32), bytes(12)) + quantum._gcm_seal(bytes(32), bytes(12), b"secret")),
            (quantum._cbc_decrypt, (quantum._cbc_encrypt(b"secret", bytes(32), bytes(16)), bytes(32), bytes(16))),
            (quantum._hkdf, (b"ikm", b"salt", b"info", 42)),
            (quantum._pkcs1_to_spki, (b"\x30\x03\x02\x01\x05",)),
            (quantum._der_len, (300,)),
            (quantum._xor_mix, (bytes(32), bytes(24))),
        ]
        for gen, strength in ((2, 0), (4, 2), (5, 0), (6, 0), (7, 2), (8, 1)):
            pk, sk = scheme_pair(gen, strength)
            enc, secret = quantum.encrypt("secret", pk)
            calls += [(quantum.decrypt, (enc, sk, secret)), (quantum.encrypt, ("secret", pk))]
        for alg in (1, 2):
            spk, ssk = quantum.generate_signature_keypair(alg, 0)
            signature = quantum.sign(b"secret", ssk)
            calls += [(quantum.verify, (b"secret", signature, spk)), (quantum._sig_strip, (signature, "signature"))]
        kpk, ksk = _oqs.generate_keypair("ML-KEM-512")
        kct, _ = _oqs.encapsulate("ML-KEM-512", kpk)
        calls += [(_oqs.decapsulate, ("ML-KEM-512", ksk, kct)), (_oqs.encapsulate, ("ML-KEM-512", kpk))]

        self.calls = calls
        self.texts = [key, priv, pub, "hello", "3" * 64, record, "ML-KEM-512", "ML-DSA-44", "SHA512"]
        self.blobs = [a for _, args in calls for a in args if isinstance(a, bytes) and len(a) < 100_000]
        self.records = password_records(random.Random(1))
        self.odd = odd_values()

    def value(self, rng, param):
        """One argument for a parameter named `param`."""
        r = rng.random()
        if r < 0.3:
            v = rng.choice(self.odd)
        elif r < 0.45:
            v = rng.randbytes(rng.choice([0, 1, 15, 16, 17, 32, 33, 64, 512, 513, 600]))
        elif r < 0.55:
            v = "".join(chr(rng.choice([0x41, 0x3D, 0x2B, 0x2F, 0x0A, 0x20, 0xE9, 0xD800, rng.randrange(0x110000)]))
                        for _ in range(rng.choice([0, 1, 4, 43, 44, 45, 100])))
        elif r < 0.6:
            v = rng.choice(self.records)
        elif r < 0.7:
            v = rng.choice(self.texts)
        elif r < 0.8:
            v = rng.choice(self.blobs)
        else:
            v = mutate(rng, rng.choice(self.blobs + self.texts + self.records))
        return self.bounded(rng, param, v)

    def mutated_call(self, rng):
        """One of the succeeding calls with one or two of its arguments spoilt."""
        fn, args = rng.choice(self.calls)
        args = list(args)
        params = list(inspect.signature(fn).parameters)
        for _ in range(rng.choice([1, 1, 2])):
            i = rng.randrange(len(args))
            v = args[i]
            if rng.random() < 0.15 or not isinstance(v, (bytes, str)):
                v = rng.choice(self.odd)
            else:
                v = mutate(rng, v)
            args[i] = self.bounded(rng, params[i], v)
        return fn, args

    @staticmethod
    def bounded(rng, param, v):
        if param in WORK_PARAMS and isinstance(v, int) and not isinstance(v, bool) and abs(v) > 4096:
            v = rng.choice([-1, 0, 1, 32, 4096, 8160, 8161, v]) if param != "iterations" else rng.choice([-1, 0, 1])
            if param == "length" and v > 8161:
                v = 8161
        if isinstance(v, (bytes, bytearray)) and rng.random() < 0.15:
            v = rng.choice([bytearray, memoryview, lambda x: memoryview(bytes(x) * 2)[::2], ExportsBuffer])(v)
        return v


def race(rewrite, hammer, workers, done):
    """Runs hammer(0..workers-1) on threads while rewrite() mutates shared arguments; then stops it."""
    writer = threading.Thread(target=rewrite)
    threads = [threading.Thread(target=hammer, args=(w,)) for w in range(workers)]
    writer.start()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    done.set()
    writer.join()


def expected_error(exc):
    """True for the exceptions a caller may see: tesmar's errors and ordinary built-in ones."""
    from tesmar.errors import TesmarError

    if isinstance(exc, TesmarError):
        return True
    ordinary = (TypeError, ValueError, KeyError, UnicodeError, OverflowError, MemoryError, BufferError,
                IndexError, LookupError, ArithmeticError, AttributeError, RuntimeError, ImportError)
    if isinstance(exc, SystemError):
        return False
    return isinstance(exc, ordinary) and type(exc).__module__ in ("builtins", "binascii")
