import asyncio
import base64
import datetime
import hashlib
import inspect
import json
import re
import threading

import pytest
from hypothesis import given, settings, strategies as st

from emulation import examples
import tesmar
import tesmar.sync
from tesmar.errors import InvalidInputError, TesmarError
from tesmar.password import core

PW = "correct horse"
RECORD_RE = re.compile(
    r'\{"algorithm":"pbkdf2","createdUtc":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)","hash":"([A-Za-z0-9+/]{86}==)",'
    r'"parameters":\{"hashAlgorithm":"SHA512","iterations":(\d+),"outputLength":64,"saltLength":32\},'
    r'"salt":"([A-Za-z0-9+/]{43}=)","version":2\}'
)


def make_record(password=PW, iterations=3, hash_name="sha512", length=64, salt=b"s" * 32, **params):
    derived = hashlib.pbkdf2_hmac(hash_name.lower(), password.encode(), salt, iterations, length)
    parameters = {"hashAlgorithm": hash_name, "iterations": iterations, "outputLength": length, **params}
    return {"salt": base64.b64encode(salt).decode(), "hash": base64.b64encode(derived).decode(),
            "parameters": parameters}


def edited(change):
    record = make_record()
    change(record)
    return json.dumps(record)


def test_record_layout_and_content():
    before = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    text = core.hash_password(PW, 7)
    match = RECORD_RE.fullmatch(text)
    assert match, text
    created, digest, iterations, salt = match.groups()
    assert iterations == "7"
    when = datetime.datetime.fromisoformat(created.replace("Z", "+00:00"))
    assert before <= when <= datetime.datetime.now(datetime.timezone.utc)
    assert base64.b64decode(digest) == hashlib.pbkdf2_hmac("sha512", PW.encode(), base64.b64decode(salt), 7, 64)
    assert text == json.dumps(json.loads(text), sort_keys=True, separators=(",", ":"))


def test_records_differ_and_both_verify():
    a, b = (json.loads(core.hash_password(PW, 3)) for _ in range(2))
    assert a["salt"] != b["salt"] and a["hash"] != b["hash"]
    assert core.verify_password(PW, json.dumps(a)) and core.verify_password(PW, json.dumps(b))


def test_default_iterations_everywhere():
    records = [core.hash_password(PW), asyncio.run(tesmar.password.hash(PW)), tesmar.sync.password.hash(PW)]
    for text in records:
        assert json.loads(text)["parameters"]["iterations"] == 210000
        assert not core.needs_rehash(text)
    assert core.verify_password(PW, records[0])


@settings(max_examples=examples(150), deadline=None)
@given(password=st.text(max_size=300), salt=st.binary(max_size=200), iterations=st.integers(1, 40),
       length=st.integers(1, 300), name=st.sampled_from(["SHA512", "sha512", "SHA256", "sha256", "Sha256"]))
def test_derive_matches_hashlib(password, salt, iterations, length, name):
    expected = hashlib.pbkdf2_hmac(name.lower(), password.encode(), salt, iterations, length)
    assert core._derive(password, salt, iterations, length, name) == expected


@pytest.mark.parametrize("name", ["sha512", "sha256"])
@pytest.mark.parametrize("size", [0, 1, 63, 64, 65, 127, 128, 129, 1000])
def test_derive_key_sizes_around_the_block(name, size):
    # HMAC keys longer than the hash block are hashed first; salts cross block boundaries.
    pw = "k" * size
    assert core._derive(pw, b"x" * size, 1000, 130, name) == hashlib.pbkdf2_hmac(name, pw.encode(), b"x" * size, 1000, 130)


@pytest.mark.parametrize("args, error", [
    ((PW, b"s", 0, 64, "SHA512"), ValueError),
    ((PW, b"s", -1, 64, "SHA512"), ValueError),
    ((PW, b"s", 2**32, 64, "SHA512"), ValueError),
    ((PW, b"s", 2**100, 64, "SHA512"), ValueError),
    ((PW, b"s", 1, 0, "SHA512"), ValueError),
    ((PW, b"s", 1, -5, "SHA512"), ValueError),
    ((PW, b"s", 1, (2**32 - 1) * 64 + 1, "SHA512"), ValueError),
    ((PW, b"s", 1, (2**32 - 1) * 32 + 1, "SHA256"), ValueError),
    ((PW, b"s", 1.0, 64, "SHA512"), TypeError),
    ((PW, b"s", "1", 64, "SHA512"), TypeError),
    ((PW, "s", 1, 64, "SHA512"), TypeError),
    ((b"pw", b"s", 1, 64, "SHA512"), AttributeError),
    (("\ud800", b"s", 1, 64, "SHA512"), UnicodeEncodeError),
    ((PW, b"s", 1, 64, 512), AttributeError),
])
def test_derive_refuses(args, error):
    with pytest.raises(error):
        core._derive(*args)


@pytest.mark.parametrize("name", ["md5", "Sha-512", "SHA3_512", "", "sh\ud800"])
def test_derive_unknown_hash_named_as_written(name):
    with pytest.raises(TesmarError) as info:
        core._derive(PW, b"s", 0, 0, name)  # the name is checked before anything else
    assert type(info.value) is TesmarError
    assert info.value.args == ("Unsupported hash algorithm: " + name,)


def test_hash_password_errors():
    for empty in ("", None):
        with pytest.raises(InvalidInputError) as info:
            core.hash_password(empty, 3)
        assert info.value.args == ("Password cannot be empty",)
    for count, error in ((0, ValueError), (-3, ValueError), (2**32, ValueError), ("1000", TypeError)):
        with pytest.raises(error):
            core.hash_password(PW, count)
    with pytest.raises(UnicodeEncodeError):
        core.hash_password("a\udc80", 3)


def _set(path, value):
    def change(record):
        target = record
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value
    return change


def _drop(*path):
    def change(record):
        target = record
        for key in path[:-1]:
            target = target[key]
        del target[path[-1]]
    return change


VERIFY_CASES = [
    ("valid", json.dumps(make_record()), True),
    ("surrounding whitespace", "\n " + json.dumps(make_record()) + " \t", True),
    ("written-only keys differ", edited(lambda r: r.update(algorithm="x", version=9, createdUtc=None, extra=[1])), True),
    ("iterations as text", edited(_set(("parameters", "iterations"), " 3 ")), True),
    ("iterations as float", edited(_set(("parameters", "iterations"), 3.9)), True),
    ("outputLength as text", edited(_set(("parameters", "outputLength"), "64")), True),
    ("no hashAlgorithm", edited(_drop("parameters", "hashAlgorithm")), True),
    ("lower-case sha256", json.dumps(make_record(hash_name="sha256", length=32)), True),
    ("short output", json.dumps(make_record(length=20)), True),
    ("unknown hash", edited(_set(("parameters", "hashAlgorithm"), "md5")), False),
    ("numeric hash name", edited(_set(("parameters", "hashAlgorithm"), 512)), False),
    ("null hash name", edited(_set(("parameters", "hashAlgorithm"), None)), False),
    ("surrogate hash name", edited(_set(("parameters", "hashAlgorithm"), "\ud800")), False),
    ("wrong iterations", edited(_set(("parameters", "iterations"), 4)), False),
    ("iterations decimal text", edited(_set(("parameters", "iterations"), "3.0")), False),
    ("iterations null", edited(_set(("parameters", "iterations"), None)), False),
    ("iterations list", edited(_set(("parameters", "iterations"), [3])), False),
    ("iterations zero", edited(_set(("parameters", "iterations"), 0)), False),
    ("iterations negative", edited(_set(("parameters", "iterations"), -3)), False),
    ("iterations beyond 32 bits", edited(_set(("parameters", "iterations"), 2**32)), False),
    ("iterations 1e400", edited(_set(("parameters", "iterations"), "X")).replace('"X"', "1e400"), False),
    ("iterations Infinity", edited(_set(("parameters", "iterations"), "X")).replace('"X"', "Infinity"), False),
    ("iterations NaN", edited(_set(("parameters", "iterations"), "X")).replace('"X"', "NaN"), False),
    ("outputLength disagrees", edited(_set(("parameters", "outputLength"), 32)), False),
    ("outputLength huge", edited(_set(("parameters", "outputLength"), 2**40)), False),
    ("empty hash, zero length", json.dumps({"salt": "", "hash": "", "parameters": {"iterations": 1, "outputLength": 0}}),
     False),
    ("salt outside alphabet", edited(_set(("salt",), "c3$" + make_record()["salt"][3:])), False),
    ("salt without fill", edited(_set(("salt",), make_record()["salt"].rstrip("="))), False),
    ("salt non-ASCII", edited(_set(("salt",), "é" * 4)), False),
    ("salt lone surrogate", edited(_set(("salt",), "\udc00AAA")), False),
    ("salt number", edited(_set(("salt",), 5)), False),
    ("hash bad Base64", edited(_set(("hash",), "abc")), False),
    ("parameters list", edited(_set(("parameters",), [3, 64])), False),
    ("parameters text", edited(_set(("parameters",), "iterations")), False),
    ("parameters null", edited(_set(("parameters",), None)), False),
    *[(f"missing {key}", edited(_drop(key)), False) for key in ("salt", "hash", "parameters")],
    *[(f"missing {key}", edited(_drop("parameters", key)), False) for key in ("iterations", "outputLength")],
    ("not JSON", "{salt:", False),
    ("JSON array", "[1, 2]", False),
    ("JSON null", "null", False),
    ("JSON string", '"x"', False),
    ("JSON number", "42", False),
    ("nested beyond the recursion limit", "[" * 100000 + "]" * 100000, False),
    ("integer beyond the digit limit", '{"parameters": {"iterations": ' + "9" * 5000 + "}}", False),
]


@pytest.mark.parametrize("label, text, expected", VERIFY_CASES, ids=[c[0] for c in VERIFY_CASES])
def test_verify_password_truth_table(label, text, expected):
    assert core.verify_password(PW, text) is expected
    assert core.verify_password("wrong", text) is False
    assert core.verify_password("", text) is False


def test_verify_lone_surrogate_password_is_false():
    assert core.verify_password("pw\ud800", json.dumps(make_record())) is False


@pytest.mark.parametrize("record", [b'{"salt": ""}', bytearray(b"{}"), None, 42, ["{}"]])
def test_non_text_records_raise(record):
    for call in (lambda: core.verify_password(PW, record), lambda: core.needs_rehash(record),
                 lambda: core._parse(record)):
        with pytest.raises(TypeError):
            call()
    assert core.verify_password("", record) is False  # the empty password is answered first


def test_parse():
    assert core._parse(' {"a": [1]} ') == {"a": [1]}
    assert core._parse("[]") is None and core._parse("{") is None


def json_loads_or_none(text):
    try:
        value = json.loads(text)
    except ValueError:
        return None
    return value if isinstance(value, dict) else None


def typed(value):
    """A JSON value with the type of every part, so that 1 and True or "1" and 1 differ."""
    if isinstance(value, dict):
        return [(typed(k), typed(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [typed(v) for v in value]
    return type(value), value


# Records are read without the json module where the text is of their own short form; everything
# else goes to json.loads. Texts near that form's edges: short-form pieces mixed with what it
# leaves out (white space, escapes, other values, long or signed numbers, deep nesting, repeats).
pieces = st.sampled_from(['{', '}', '"a"', '"salt"', ':', ',', '1', '0', '00', '-1', '12345678901234567',
                          '123456789012345678', '1234567890123456789', '1.5', '1e3', 'true', 'null', '[', ']',
                          ' ', '"\\u0041"', '"\\n"', '"\x7f"', '"\xe9"', '"\ud800"', '"\t"', '"a b"',
                          '{"p":{"q":{"r":1}}}', '{"a":1,"a":"b"}', '"'])


@settings(max_examples=examples(1500), deadline=None)
@given(st.lists(pieces, max_size=14).map("".join))
def test_parse_is_json_loads(text):
    assert typed(core._parse(text)) == typed(json_loads_or_none(text))


@pytest.mark.parametrize("iterations, written", [(7, "7"), (True, "true")])
def test_record_writes_the_count_as_json_does(iterations, written):
    record = core.hash_password(PW, iterations)
    assert json.loads(record)["parameters"]["iterations"] == iterations
    assert f'"iterations":{written},' in record
    assert record == json.dumps(json.loads(record), sort_keys=True, separators=(",", ":"))
    assert core.verify_password(PW, record)


def rehash_record(**parameters):
    return json.dumps({"parameters": parameters})


REHASH_CASES = [
    (rehash_record(iterations=210000), False),
    (rehash_record(iterations=209999), True),
    (rehash_record(iterations=1000, hashAlgorithm="SHA512"), True),
    (rehash_record(iterations=2**80), False),
    (rehash_record(iterations="210000"), False),
    (rehash_record(iterations=210000.7), False),
    (rehash_record(iterations=209999.9), True),
    (rehash_record(iterations=210000, hashAlgorithm="SHA256", outputLength=16), False),
    (rehash_record(iterations="abc"), True),
    (rehash_record(iterations=None), True),
    (rehash_record(iterations=[210000]), True),
    (rehash_record(), True),
    ('{"parameters": {"iterations": 1e400}}', True),
    ('{"parameters": {"iterations": Infinity}}', True),
    ('{"parameters": {"iterations": NaN}}', True),
    ('{"parameters": [210000]}', True),
    ('{"iterations": 210000}', True),
    ("not json", True),
    ("[]", True),
    ("null", True),
    ("[" * 100000, True),
]


@pytest.mark.parametrize("text, expected", REHASH_CASES)
def test_needs_rehash_truth_table(text, expected):
    assert core.needs_rehash(text) is expected


def test_record_made_with_few_iterations_needs_rehash():
    text = core.hash_password(PW, 1000)
    assert json.loads(text)["parameters"]["iterations"] == 1000
    assert core.verify_password(PW, text) and core.needs_rehash(text)


def test_record_parameters_are_what_records_are_made_with():
    text = core.hash_password(PW, core.UPGRADE_THRESHOLD)
    record = json.loads(text)
    assert (record["algorithm"], record["version"]) == (core.ALGORITHM, core.VERSION)
    parameters = record["parameters"]
    assert (parameters["hashAlgorithm"], parameters["outputLength"], parameters["saltLength"]) == (
        core.HASH_ALGORITHM, core.OUTPUT_LENGTH, core.SALT_LENGTH)
    assert len(base64.b64decode(record["salt"])) == core.SALT_LENGTH
    assert len(base64.b64decode(record["hash"])) == core.OUTPUT_LENGTH
    assert not core.needs_rehash(text)
    assert core.needs_rehash(core.hash_password(PW, core.UPGRADE_THRESHOLD - 1))
    assert inspect.signature(core.hash_password).parameters["iterations"].default == core.DEFAULT_ITERATIONS


@pytest.mark.parametrize("name", sorted(core._HASHES))
def test_every_listed_hash_derives_with_its_function(name):
    function = core._HASHES[name]
    expected = hashlib.pbkdf2_hmac(function().name, PW.encode(), b"salt", 3, 80)
    assert core._derive(PW, b"salt", 3, 80, name.lower()) == expected


def test_signatures():
    assert str(inspect.signature(core.hash_password)) == "(password: 'str', iterations: 'int' = 210000) -> 'str'"
    assert str(inspect.signature(core._derive)) == (
        "(password: 'str', salt: 'bytes', iterations: 'int', length: 'int', hash_algorithm: 'str') -> 'bytes'")
    assert core._parse.__annotations__ == {"hash_json": "str", "return": "dict | None"}
    assert core.verify_password.__annotations__["return"] == "bool"


def test_awaited_records():
    pkg = tesmar.password

    async def flow():
        text = await pkg.hash(PW, iterations=5)
        pending = pkg.hash("")  # nothing runs until awaited
        with pytest.raises(InvalidInputError):
            await pending
        return text, await asyncio.gather(pkg.verify(PW, text), pkg.verify("x", text), pkg.needs_rehash(text))

    text, results = asyncio.run(flow())
    assert json.loads(text)["parameters"]["iterations"] == 5
    assert results == [True, False, True]


def test_sync_facade():
    facade = tesmar.sync._Password
    text = facade.hash(PW, 4)
    assert tesmar.sync.password.verify(PW, text) and facade.needs_rehash(text)


def test_threads_hash_independently():
    results = {}

    def work(i):
        results[i] = core.hash_password(f"pw{i}", 20000)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(core.verify_password(f"pw{i}", results[i]) for i in range(4))
    assert not core.verify_password("pw0", results[1])
