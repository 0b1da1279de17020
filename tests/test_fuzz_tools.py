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
