"""liboqs, built from its pinned release source, for tesmar's post-quantum family.

Installed by the ``tesmar[quantum]`` extra. tesmar finds the library by its path beside the tesmar
extension and never imports this package; ``library_path()`` is for people who want to know.
"""
from pathlib import Path

__all__ = ["library_path"]


def library_path() -> str:
    """The path of the liboqs shared library this package carries."""
    return str(Path(__file__).with_name("lib") / "liboqs.so.9")
