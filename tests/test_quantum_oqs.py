"""The liboqs adapter: mechanism tables, the six operations, their failures and thread safety."""
import concurrent.futures
import os

import pytest

from quantum_keys import CMCE, FRODO, KEM_SIZES, MLKEM, kem_pair
from tesmar.errors import QuantumOperationError
from tesmar.quantum import _oqs
from tesmar.quantum.types import QuantumStrength

MLDSA = ["ML-DSA-44", "ML-DSA-65", "ML-DSA-87"]
SLHDSA = [
    ["SLH-DSA-SHA2-128f", "SLH_DSA_PURE_SHA2_128F"],
    ["SLH-DSA-SHA2-192f", "SLH_DSA_PURE_SHA2_192F"],
    ["SLH-DSA-SHA2-256f", "SLH_DSA_PURE_SHA2_256F"],
]


# ---- names ---------------------------------------------------------------------------------------


def test_tables():
    assert _oqs._FRODO == dict(enumerate(FRODO))
    assert _oqs._CMCE == dict(enumerate(CMCE))
    assert _oqs._MLKEM == dict(enumerate(MLKEM))
    assert _oqs._MLDSA == dict(enumerate(MLDSA))
    assert _oqs._SLHDSA == dict(enumerate(SLHDSA))


@pytest.mark.parametrize("strength", [0, 1, 2, QuantumStrength.MEDIUM, True, "2", 1.9])
@pytest.mark.parametrize(
    "lookup, table",
    [(_oqs.frodo_alg, FRODO), (_oqs.cmce_alg, CMCE), (_oqs.mlkem_alg, MLKEM),
     (lambda s: _oqs.sig_algorithm("mldsa", s), MLDSA)],
)
def test_names_by_strength(lookup, table, strength):
    assert lookup(strength) == table[int(strength)]


@pytest.mark.parametrize("strength", [3, -1, 2**70])
@pytest.mark.parametrize("lookup", [_oqs.frodo_alg, _oqs.cmce_alg, _oqs.mlkem_alg,
                                    lambda s: _oqs.sig_algorithm("mldsa", s),
                                    lambda s: _oqs.sig_algorithm("slhdsa", s)])
def test_unknown_strength_is_a_key_error_carrying_the_integer(lookup, strength):
    with pytest.raises(KeyError) as info:
        lookup(strength)
    assert info.value.args == (strength,)


@pytest.mark.parametrize("kind", ["slhdsa", "", "MLDSA", "ml-dsa", None])
@pytest.mark.parametrize("strength", [0, 1, 2])
def test_any_other_kind_is_slh_dsa(kind, strength):
    assert _oqs.sig_algorithm(kind, strength) in SLHDSA[strength]


@pytest.mark.parametrize(
    "enabled, strength, expected",
    [
        (["SLH_DSA_PURE_SHA2_192F"], 1, "SLH_DSA_PURE_SHA2_192F"),
        (["SLH-DSA-SHA2-192f"], 1, "SLH-DSA-SHA2-192f"),
        (["SLH-DSA-SHA2-128f", "SLH_DSA_PURE_SHA2_128F"], 0, "SLH-DSA-SHA2-128f"),
        (["SLH_DSA_PURE_SHA2_256F", "SLH-DSA-SHA2-256f"], 2, "SLH-DSA-SHA2-256f"),
    ],
)
def test_first_enabled_slh_dsa_candidate_wins(sig_names, enabled, strength, expected):
    for names in SLHDSA:
        for name in names:
            sig_names(name, name in enabled)
    assert _oqs.sig_algorithm("slhdsa", strength) == expected


def test_no_slh_dsa_candidate_enabled(sig_names):
    for name in SLHDSA[0]:
        sig_names(name, False)
    with pytest.raises(QuantumOperationError) as info:
        _oqs.sig_algorithm("slhdsa", 0)
    assert str(info.value) == "No SLH-DSA mechanism available; tried ['SLH-DSA-SHA2-128f', 'SLH_DSA_PURE_SHA2_128F']"
    assert info.value.__cause__ is None


def test_library_description():
    lib = _oqs._oqs()
    assert os.path.exists(lib.path)
    assert lib.version and isinstance(lib.version, str)
    assert _oqs._oqs() == lib


# ---- KEM -------------------------------------------------------------------------------------


@pytest.mark.parametrize("alg", MLKEM + FRODO + CMCE)
def test_kem_sizes_and_round_trip(alg):
    pk_len, sk_len, ct_len, ss_len = KEM_SIZES[alg]
    pk, sk = kem_pair(alg)
    assert (type(pk), type(sk), len(pk), len(sk)) == (bytes, bytes, pk_len, sk_len)
    ct, ss = _oqs.encapsulate(alg, pk)
    assert (type(ct), type(ss), len(ct), len(ss)) == (bytes, bytes, ct_len, ss_len)
    assert _oqs.decapsulate(alg, sk, ct) == ss
    assert _oqs.encapsulate(alg, bytearray(pk))[1] != ss  # a fresh secret each time, any bytes-like


def at_odd_address(data):
    """The same bytes as a view that starts one byte into a buffer, so at an odd address."""
    return memoryview(b"\x00" + bytes(data))[1:]


@pytest.mark.parametrize("alg", ["FrodoKEM-640-AES", "ML-KEM-512"])
def test_kem_inputs_at_odd_addresses(alg):
    # Keys sliced out of longer ones (scheme 7's) start anywhere; FrodoKEM reads its key as 16-bit
    # words, which the sanitizer build checks: such inputs must give the same answers.
    pk, sk = kem_pair(alg)
    ct, ss = _oqs.encapsulate(alg, at_odd_address(pk))
    assert _oqs.decapsulate(alg, at_odd_address(sk), at_odd_address(ct)) == ss == _oqs.decapsulate(alg, sk, ct)


@pytest.mark.parametrize("spelling", ["ml-kem-512", "Ml-Kem-512"])
def test_mechanism_names_match_without_regard_to_case(spelling):
    # liboqs compares names case-insensitively; what comes back is sized as its canonical name.
    pk, sk = _oqs.generate_keypair(spelling)
    assert (len(pk), len(sk)) == KEM_SIZES["ML-KEM-512"][:2]
    ct, ss = _oqs.encapsulate(spelling, pk)
    assert _oqs.decapsulate("ML-KEM-512", sk, ct) == ss


@pytest.mark.parametrize("alg", MLKEM + FRODO + CMCE[:1])
def test_wrong_key_or_ciphertext_of_the_right_size_gives_another_secret(alg):
    pk, sk = kem_pair(alg)
    _, other_sk = kem_pair(alg, variant=1)
    ct, ss = _oqs.encapsulate(alg, pk)
    assert _oqs.decapsulate(alg, other_sk, ct) != ss
    if alg not in CMCE:  # an altered McEliece ciphertext need not stay well-formed
        altered = bytes([ct[0] ^ 1]) + ct[1:]
        assert _oqs.decapsulate(alg, sk, altered) != ss


@pytest.mark.parametrize("alg", MLKEM)
def test_ml_kem_input_checks_are_reported_by_status(alg):
    pk, sk = kem_pair(alg)
    ct, _ = _oqs.encapsulate(alg, pk)
    # FIPS 203: packed coefficients of 0xfff are not below the modulus 3329.
    beyond_modulus = b"\xff" * (len(pk) - 32) + pk[-32:]
    with pytest.raises(QuantumOperationError, match=rf"^KEM encapsulation failed \({alg}\): "):
        _oqs.encapsulate(alg, beyond_modulus)
    # The secret key holds its public key and that key's hash: a changed public-key byte is caught.
    at = 384 * ((len(pk) - 32) // 384)
    with pytest.raises(QuantumOperationError, match=rf"^KEM decapsulation failed \({alg}\): "):
        _oqs.decapsulate(alg, sk[:at] + bytes([sk[at] ^ 1]) + sk[at + 1:], ct)


def _kem_calls(alg):
    pk, sk = kem_pair(alg)
    ct, _ = _oqs.encapsulate(alg, pk)
    return pk, sk, ct


@pytest.mark.parametrize(
    "call, prefix",
    [
        (lambda pk, sk, ct: _oqs.encapsulate("ML-KEM-512", pk[:-1]), "KEM encapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.encapsulate("ML-KEM-512", pk + b"\0"), "KEM encapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.encapsulate("ML-KEM-512", b""), "KEM encapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.encapsulate("ML-KEM-768", pk), "KEM encapsulation failed (ML-KEM-768): "),
        (lambda pk, sk, ct: _oqs.decapsulate("ML-KEM-512", sk[:-1], ct), "KEM decapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.decapsulate("ML-KEM-512", sk, ct + b"\0"), "KEM decapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.decapsulate("ML-KEM-512", ct, sk), "KEM decapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.encapsulate("ML-KEM-512", None), "KEM encapsulation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.generate_keypair("ML-KEM-9"), "KEM key generation failed (ML-KEM-9): "),
        (lambda pk, sk, ct: _oqs.generate_keypair("ML-KEM-512\0"), "KEM key generation failed (ML-KEM-512\0): "),
        (lambda pk, sk, ct: _oqs.generate_keypair(512), "KEM key generation failed (512): "),
        (lambda pk, sk, ct: _oqs.sig_generate_keypair("ML-KEM-512"), "Signature key generation failed (ML-KEM-512): "),
        (lambda pk, sk, ct: _oqs.sig_sign("ML-DSA-44", sk, b"m"), "Signing failed (ML-DSA-44): "),
        (lambda pk, sk, ct: _oqs.sig_sign("ML-DSA-44", b"", b"m"), "Signing failed (ML-DSA-44): "),
    ],
)
def test_backend_failures_are_wrapped_with_prefix_mechanism_and_cause(call, prefix):
    pk, sk, ct = _kem_calls("ML-KEM-512")
    with pytest.raises(QuantumOperationError) as info:
        call(pk, sk, ct)
    cause = info.value.__cause__
    assert isinstance(cause, Exception)
    assert str(info.value) == prefix + str(cause)


# ---- signatures --------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def mldsa44():
    pk, sk = _oqs.sig_generate_keypair("ML-DSA-44")
    return pk, sk, _oqs.sig_sign("ML-DSA-44", sk, b"message")


def test_signature_round_trip(mldsa44):
    pk, sk, sig = mldsa44
    assert (type(pk), type(sk), type(sig)) == (bytes, bytes, bytes)
    assert (len(pk), len(sk), len(sig)) == (1312, 2560, 2420)
    assert _oqs.sig_verify("ML-DSA-44", pk, b"message", sig) is True
    assert _oqs.sig_sign("ML-DSA-44", sk, b"") and _oqs.sig_sign("ML-DSA-44", sk, bytearray(b"x"))


@pytest.mark.parametrize(
    "alg, pk, message, sig",
    [
        ("ML-DSA-44", "pk", b"massage", "sig"),
        ("ML-DSA-44", "pk", b"message", "sig[:-1]"),
        ("ML-DSA-44", "pk", b"message", "sig + b'\\0'"),
        ("ML-DSA-44", "pk", b"message", "b''"),
        ("ML-DSA-44", "pk", b"message", "bytes(len(sig))"),
        ("ML-DSA-44", "pk[:-1]", b"message", "sig"),
        ("ML-DSA-44", "b''", b"message", "sig"),
        ("ML-DSA-65", "pk", b"message", "sig"),
        ("Nope", "pk", b"message", "sig"),
        (44, "pk", b"message", "sig"),
        ("ML-DSA-44", "pk", None, "sig"),
        ("ML-DSA-44", "pk", b"message", "None"),
    ],
)
def test_sig_verify_answers_every_failure_with_false(mldsa44, alg, pk, message, sig):
    names = {"pk": mldsa44[0], "sig": mldsa44[2]}
    assert _oqs.sig_verify(alg, eval(pk, names), message, eval(sig, names)) is False


def test_disabled_signature_mechanism(sig_names, mldsa44):
    pk, sk, sig = mldsa44
    sig_names("ML-DSA-44", False)
    with pytest.raises(QuantumOperationError, match=r"^Signature key generation failed \(ML-DSA-44\): "):
        _oqs.sig_generate_keypair("ML-DSA-44")
    with pytest.raises(QuantumOperationError, match=r"^Signing failed \(ML-DSA-44\): "):
        _oqs.sig_sign("ML-DSA-44", sk, b"message")
    assert _oqs.sig_verify("ML-DSA-44", pk, b"message", sig) is False


# ---- concurrency -------------------------------------------------------------------------------


def test_concurrent_calls_share_nothing():
    def work(i):
        alg = MLKEM[i % 3]
        pk, sk = _oqs.generate_keypair(alg)
        ct, ss = _oqs.encapsulate(alg, pk)
        return _oqs.decapsulate(alg, sk, ct) == ss

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        assert all(pool.map(work, range(64)))


FAULT_CALLS = {
    "OQS_KEM_keypair": (lambda kem, sig: _oqs.generate_keypair("ML-KEM-768"), "KEM key generation failed (ML-KEM-768): "),
    "OQS_KEM_encaps": (lambda kem, sig: _oqs.encapsulate("ML-KEM-512", kem[0]), "KEM encapsulation failed (ML-KEM-512): "),
    "OQS_KEM_decaps": (lambda kem, sig: _oqs.decapsulate("ML-KEM-512", kem[1], bytes(768)),
                       "KEM decapsulation failed (ML-KEM-512): "),
    "OQS_SIG_keypair": (lambda kem, sig: _oqs.sig_generate_keypair("ML-DSA-44"), "Signature key generation failed (ML-DSA-44): "),
    "OQS_SIG_sign": (lambda kem, sig: _oqs.sig_sign("ML-DSA-44", sig[1], b"m"), "Signing failed (ML-DSA-44): "),
}


@pytest.mark.parametrize("function", sorted(FAULT_CALLS))
def test_failure_status_is_wrapped_with_prefix_and_function(liboqs_faults, mldsa44, function):
    fail, _ = liboqs_faults
    kem = kem_pair("ML-KEM-512")
    call, prefix = FAULT_CALLS[function]
    fail(function)
    with pytest.raises(QuantumOperationError) as info:
        call(kem, mldsa44)
    assert str(info.value) == prefix + f"liboqs reported an error from {function}"
    assert isinstance(info.value.__cause__, ValueError)
    fail(function, False)
    call(kem, mldsa44)  # and works again


def test_failure_status_of_verification_is_false(liboqs_faults, mldsa44):
    fail, _ = liboqs_faults
    public, secret, _ = mldsa44
    signature = _oqs.sig_sign("ML-DSA-44", secret, b"m")
    fail("OQS_SIG_verify")
    assert _oqs.sig_verify("ML-DSA-44", public, b"m", signature) is False
    fail("OQS_SIG_verify", False)
    assert _oqs.sig_verify("ML-DSA-44", public, b"m", signature) is True


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: _oqs.generate_keypair("ML-KEM-512"),
         "KEM key generation failed (ML-KEM-512): liboqs reports an empty key, ciphertext or secret size"),
        (lambda: _oqs.sig_generate_keypair("ML-DSA-44"),
         "Signature key generation failed (ML-DSA-44): liboqs reports an empty key or signature size"),
    ],
)
def test_empty_sizes_are_refused_before_any_call(liboqs_faults, call, message):
    _, empty = liboqs_faults
    empty()
    with pytest.raises(QuantumOperationError) as info:
        call()
    assert str(info.value) == message
