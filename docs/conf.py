"""Sphinx configuration of tesmar's documentation site (built by `make docs`).

Examples on the pages are run by the suite (tests/docs_examples.py): write Python as
``code-block:: python`` or ``pycon`` and command lines as ``code-block:: console`` with ``$ ``
prompts and the output they print; ``shell`` blocks (installing, make targets) are shown only.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "_ext"))

import tesmar  # noqa: E402  the reference and the layouts come from the installed package

project = "tesmar"
author = "the tesmar developers"
copyright = "the tesmar developers"
release = version = tesmar.__version__

extensions = [
    "sphinx.ext.autodoc",
    "tesmar_api",
    "tesmar_layouts",
    "tesmar_cli",
]

html_theme = "furo"
html_title = f"tesmar {release}"
html_static_path = ["_static"]
html_css_files = ["tesmar.css"]
html_copy_source = False
html_show_sourcelink = False

exclude_patterns = ["_build"]
nitpicky = True
# Standard-library names in signatures and docstrings: there is no Python inventory offline, so
# these stay plain text rather than links. Every tesmar name must resolve.
nitpick_ignore = [
    ("py:class", name)
    for name in (
        "str", "bytes", "int", "bool", "None", "tuple", "list", "dict", "object", "Exception",
        "enum.IntEnum", "IntEnum", "collections.abc.Buffer", "Buffer", "os.PathLike",
        "QuantumGeneration | int", "QuantumStrength | int", "SignatureAlgorithm | int",
    )
]
autodoc_member_order = "bysource"
autodoc_typehints = "signature"
autodoc_inherit_docstrings = False
# Literal blocks from docstrings and the parser are plain text, not Python.
highlight_language = "text"
# Quotes on these pages are literal (JSON keys, key texts), never typographic.
smartquotes = False
pygments_style = "sphinx"
pygments_dark_style = "monokai"
