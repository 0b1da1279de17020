"""The fuzz targets and the memory check must notice the faults they exist to catch: planted
faults (a lenient decoder, a stream that lets plaintext out, a leaking path) have to be reported."""
import base64
import binascii
import io
import pathlib
import sys

import pytest

FUZZ = pathlib.Path(__file__).resolve().parents[1] / "fuzz"
sys.path.insert(0, str(FUZZ))

import memory  # noqa: E402
import run  # noqa: E402
import targets  # noqa: E402


def lenient_base64(s):
    try:
        return base64.b64decode(s) or None
    except (binascii.Error, ValueError):
        return None


def leaky_stream(source, target, key, **options):
    from tesmar.errors import DecryptionError

    target.write(source.read(5))
    raise DecryptionError("AES decryption failed")


def system_error(*args):
    raise SystemError("error return without exception set")


@pytest.mark.parametrize("module,name,fault,target,data", [
    ("tesmar._internal.keys", "_try_base64", lenient_base64, "base64_keys", b"QUJD\n"),
    ("tesmar._internal.keys", "convert_key", lambda key: bytes(32), "base64_keys", b"a passphrase"),
    ("tesmar.files.core", "aes_decrypt_file", leaky_stream, "files_decrypt", b"\x00\x00" + bytes(40)),
    ("tesmar.password.core", "needs_rehash", lambda record: 0, "password_record", b"\x02pw{}"),
    ("tesmar.password.core", "verify_password", system_error, "password_record", b"\x02pw{}"),
    ("tesmar.cli", "_describe", lambda head, size: {}, "inspect_blob", b"\x00HYBR"),
], ids=["lenient-base64", "wrong-key-rule", "plaintext-before-failure", "non-bool-answer",
        "system-error", "no-kind"])
def test_targets_report_planted_faults(monkeypatch, module, name, fault, target, data):
    import importlib

    monkeypatch.setattr(importlib.import_module(module), name, fault)
    with pytest.raises(targets.Finding):
        targets.TARGETS[target][0](data)


@pytest.mark.skipif(hasattr(__import__("ctypes").CDLL(None), "__asan_init"),
                    reason="resident memory under AddressSanitizer's allocator (its quarantine) does not "
                           "follow what the process keeps")
def test_memory_check_reports_a_path_that_keeps_what_it_makes(monkeypatch, capsys):
    kept = []
    monkeypatch.setattr(memory, "paths", lambda: {"keeps 200 bytes a call": lambda: kept.append(bytearray(200))})
    assert memory.main(["32"]) == 1
    assert "GREW" in capsys.readouterr().out


def test_run_reads_libfuzzer_statistics():
    output = (
        "INFO: Loaded 1 modules   (10989 inline 8-bit counters): 10989 [0x1, 0x2),\n"
        "#2\tINITED cov: 70 ft: 90 corp: 18/300b exec/s: 0 rss: 120Mb\n"
        "#191739\tDONE   cov: 88 ft: 115 corp: 23/541b lim: 88 exec/s: 17430 rss: 140Mb\n"
        "stat::number_of_executed_units: 191739\nstat::average_exec_per_sec:     17430\n"
        "stat::new_units_added:          12\nstat::peak_rss_mb:              140\n"
    )
    s = run.stats(output)
    assert (s["number_of_executed_units"], s["cov"], s["ft"], s["corp"], s["counters"]) == (191739, 88, 115, 23, 10989)


@pytest.fixture(scope="module")
def soak_material():
    import soak

    return soak.Material()


def accept_anything(original):
    return lambda *args, **kwargs: True


def open_anything(original):
    return lambda blob, key: b"whatever"


def stream_out_then_fail(original):
    """The real stream decryption, but one that writes out something before it reports a failure."""
    def decrypt(source, target, key, **options):
        from tesmar.errors import DecryptionError

        try:
            return original(source, target, key, **options)
        except DecryptionError:
            target.write(b"unauthenticated")
            raise
    return decrypt


@pytest.mark.parametrize("family,module,name,fault", [
    ("aes", "tesmar.aes.core", "decrypt_bytes", open_anything),
    ("rsa", "tesmar.rsa.core", "verify_bytes", accept_anything),
    ("password", "tesmar.password.core", "verify_password", accept_anything),
    ("signature", "tesmar.quantum.core", "verify", accept_anything),
    ("files", "tesmar.files.core", "aes_decrypt_file", stream_out_then_fail),
])
@pytest.mark.keygen  # the soak material makes Classic McEliece and RSA-4096 pairs
def test_soak_operations_report_planted_faults(monkeypatch, soak_material, family, module, name, fault):
    import importlib
    import random

    import soak

    mod = importlib.import_module(module)
    monkeypatch.setattr(mod, name, fault(getattr(mod, name)))
    with pytest.raises(soak.Failed):
        soak.OPERATIONS[family](random.Random(1), soak_material)


def test_soak_tamper_flips_one_bit():
    import random

    import soak

    blob = bytes(64)
    spoilt = soak.tamper(random.Random(3), blob)
    assert len(spoilt) == len(blob) and sum(bin(a ^ b).count("1") for a, b in zip(blob, spoilt)) == 1


PROBE = """
import ctypes, sys
sys.path.insert(0, {fuzz!r})
import leakcheck
leakcheck.at_exit("probe")
def work():
    kept = [int("123456789") + i for i in range(3)]   # held only by this frame while it runs
    if {leak}:
        ctypes.pythonapi.Py_IncRef(ctypes.py_object(kept[0] * 3))   # a reference never dropped
    return len(kept)
work()
"""


@pytest.mark.skipif(not hasattr(__import__("ctypes").CDLL(None), "__lsan_do_recoverable_leak_check"),
                    reason="needs LeakSanitizer in the process (make asan)")
@pytest.mark.parametrize("leak", [False, True])
def test_leak_check_finds_a_dropped_reference_and_nothing_else(leak):
    import subprocess

    proc = subprocess.run([sys.executable, "-c", PROBE.format(fuzz=str(FUZZ), leak=leak)],
                          capture_output=True, text=True)
    assert ("LEAKS FOUND" in proc.stdout, proc.returncode) == ((True, 1) if leak else (False, 0)), proc.stderr[-2000:]
