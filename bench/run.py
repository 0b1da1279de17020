"""Runs every benchmark of bench/ in one process and prints tesmar against the alternatives.

Usage: python bench/run.py [family ...]   (families: the bench_<family>.py files present)
"""
import importlib.util
import os
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))


def main(argv):
    wanted = set(argv)
    for path in sorted(HERE.glob("bench_*.py")):
        family = path.stem.removeprefix("bench_")
        if wanted and family not in wanted:
            continue
        module_spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        print(f"== {family}")
        module.main()
        print()


if __name__ == "__main__":
    main(sys.argv[1:])
