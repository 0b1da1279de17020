"""Hostile arguments for every native function: only exceptions come back, never a crash.

The calls are random but seeded, so a failure repeats. fuzz/hostile.py runs the same generators for
as long as one likes (and under the sanitizers with `make asan`).
"""
import inspect
import random
import threading

import pytest

import fuzz_inputs
import quantum_keys

FUNCTIONS = fuzz_inputs.native_functions()
CALLS_PER_FUNCTION = 60


@pytest.fixture(scope="module")
def material(rsa_keys):
    return fuzz_inputs.Material(rsa_keys, quantum_keys.scheme_pair)


def call(fn, args):
    """fn(*args); the exception it raised (or None), which must be one a caller may see."""
    try:
        fn(*args)
    except Exception as exc:  # noqa: BLE001 - judged below
        assert fuzz_inputs.expected_error(exc), f"{fn.__module__}.{fn.__name__}{tuple(map(repr, args))}: {exc!r}"
        return exc
    return None


@pytest.mark.parametrize(
    "module,name,fn",
    [f for f in FUNCTIONS if (f[0], f[1]) not in fuzz_inputs.SLOW],
    ids=[f"{m}.{n}" for m, n, _ in FUNCTIONS if (m, n) not in fuzz_inputs.SLOW],
)
def test_odd_arguments_raise_ordinary_errors(material, module, name, fn):
    rng = random.Random(f"{module}.{name}")
    params = list(inspect.signature(fn).parameters)
    for _ in range(CALLS_PER_FUNCTION):
        call(fn, [material.value(rng, p) for p in params])


def test_spoilt_arguments_of_working_calls_raise_ordinary_errors(material):
    rng = random.Random(7)
    for _ in range(1500):
        call(*material.mutated_call(rng))


@pytest.mark.parametrize("view", [memoryview(b"abcdefgh" * 8)[::2], memoryview(b"abcdefgh" * 8)[::-1]],
                         ids=["strided", "reversed"])
def test_non_contiguous_buffers_are_refused_not_misread(material, view):
    # A reader taking such a view as plain bytes would see the wrong bytes (or run past its end):
    # every call that works with the contiguous copy must refuse the view itself.
    for fn, args in material.calls:
        for i, arg in enumerate(args):
            if not isinstance(arg, bytes):
                continue
            spoilt = list(args)
            spoilt[i] = view
            try:
                answer = fn(*spoilt)
            except Exception as exc:  # noqa: BLE001 - judged below
                raised, chain = exc, [exc, exc.__cause__]
            else:
                # Checking operations answer what they cannot read with False.
                assert answer is False, f"{fn.__name__} accepted a non-contiguous view as argument {i}"
                continue
            assert any(isinstance(e, (BufferError, TypeError)) for e in chain), (fn.__name__, i, raised)


def test_threads_sharing_a_mutated_bytearray(material):
    # The GIL is released inside the calls while another thread rewrites the argument in place:
    # answers may be anything (that race is the caller's), but nothing may break.
    calls = [(fn, args, i) for fn, args in material.calls for i, a in enumerate(args) if isinstance(a, bytes)]
    shared = {k: bytearray(args[i]) for k, (_, args, i) in enumerate(calls)}
    done = threading.Event()
    failures = []

    def rewrite():
        rng = random.Random(1)
        while not done.is_set():
            for data in shared.values():
                for _ in range(4):
                    data[rng.randrange(len(data))] = rng.randrange(256)
                try:
                    data.append(0)  # refused while a call holds the buffer
                    del data[-1]
                except BufferError:
                    pass

    def hammer(seed):
        rng = random.Random(seed)
        try:
            for _ in range(150):
                k = rng.randrange(len(calls))
                fn, args, i = calls[k]
                args = list(args)
                args[i] = shared[k] if rng.random() < 0.7 else memoryview(shared[k])
                call(fn, args)
        except AssertionError as exc:
            failures.append(exc)

    fuzz_inputs.race(rewrite, hammer, 3, done)
    assert not failures, failures[0]


class Interrupting:
    """An argument whose every conversion hook raises a given interrupt or exit, and notes it."""

    def __init__(self, exc):
        self.exc = exc
        self.hit = False

    def _raise(self, *args):
        self.hit = True
        raise self.exc

    __buffer__ = __index__ = __int__ = __str__ = __len__ = __bool__ = __eq__ = __iter__ = _raise
    __hash__ = object.__hash__


@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, SystemExit])
def test_interrupts_from_arguments_pass_through_unchanged(material, rsa_keys, exc_type):
    # Only ordinary errors may be wrapped or answered with False: an interrupt or exit raised while
    # an argument is converted reaches the caller as it was raised.
    from tesmar.hybrid import core as hybrid
    from tesmar.quantum import _oqs
    from tesmar.quantum import core as quantum
    from tesmar.rsa import core as rsa

    priv, pub = rsa_keys
    spk, ssk = quantum.generate_signature_keypair(1, 0)
    calls = material.calls + [
        (rsa.sign_bytes, (b"data", priv)),
        (rsa.encrypt_bytes, (b"data", pub)),
        (rsa._encrypt_oaep, (b"data", pub)),
        (rsa._decrypt_oaep, (rsa._encrypt_oaep(b"data", pub), priv)),
        (hybrid.encrypt_bytes, (b"data", pub)),
        (quantum.sign, (b"data", ssk)),
        (_oqs.sig_sign, ("ML-DSA-44", ssk[2:], b"data")),
        (_oqs.sig_verify, ("ML-DSA-44", spk[2:], b"data", quantum.sign(b"data", ssk))),
    ]
    for fn, args in calls:
        for i in range(len(args)):
            arg = Interrupting(exc_type(f"{fn.__name__}:{i}"))
            spoilt = list(args)
            spoilt[i] = arg
            try:
                fn(*spoilt)
            except BaseException as exc:  # noqa: BLE001 - judged below
                if exc is arg.exc:
                    continue
                chain = [exc, exc.__cause__, exc.__context__]
                assert not any(isinstance(e, exc_type) for e in chain), (fn.__name__, i, exc)
                assert isinstance(exc, Exception), (fn.__name__, i, exc)
            assert not arg.hit, f"{fn.__name__} swallowed {exc_type.__name__} from argument {i}"
