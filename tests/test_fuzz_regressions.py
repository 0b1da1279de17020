"""Every seed and every regression input of the fuzz targets, replayed through the same target code
(without the fuzzer), so that the normal suite catches a decoder that regresses."""
import pathlib
import sys

import pytest

FUZZ = pathlib.Path(__file__).resolve().parents[1] / "fuzz"
sys.path.insert(0, str(FUZZ))

import targets  # noqa: E402

INPUTS = sorted(
    (name, path)
    for name in targets.TARGETS
    for folder in ("corpus", "regressions")
    for path in (FUZZ / folder / name).glob("*")
    if path.is_file()
)


@pytest.mark.parametrize("name,path", INPUTS, ids=[f"{p.parent.parent.name}/{n}/{p.name}" for n, p in INPUTS])
def test_fuzz_input_replays_cleanly(name, path):
    target, max_len = targets.TARGETS[name]
    data = path.read_bytes()
    assert len(data) <= max_len, f"{path} is longer than the target's fuzzing bound"
    target(data)


def test_every_target_has_seeds():
    seeded = {name for name, path in INPUTS if path.parent.parent.name == "corpus"}
    assert seeded == set(targets.TARGETS)
