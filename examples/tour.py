"""A short tour of every tesmar family: runs each examples/tour_<family>.py in order."""
import pathlib
import runpy

HERE = pathlib.Path(__file__).resolve().parent

for path in sorted(HERE.glob("tour_*.py")):
    print(f"--- {path.stem.removeprefix('tour_')}")
    runpy.run_path(str(path), run_name="__main__")
    print()
