"""The API reference, generated from the installed package.

``.. tesmar-module:: tesmar.aes.core`` documents the module and every public name in it (see
apinames): functions and classes through autodoc, so signatures, annotations and docstrings are
the package's own; constants with their live value; re-exports as short entries pointing to
where the object is documented in full. When the build ends, every public name of every public
module must be in the inventory, or the build warns (and -W fails it).
"""
from __future__ import annotations

import enum
import importlib

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles

import apinames

logger = logging.getLogger(__name__)


def _indent(text: str, by: str = "   ") -> list[str]:
    return [by + line if line else "" for line in text.splitlines()]


def module_rst(module_name: str) -> list[str]:
    module = importlib.import_module(module_name)
    lines = [f".. automodule:: {module_name}", ""]
    submodules = []
    for name in apinames.public_names(module_name):
        value = getattr(module, name)
        what = apinames.kind(module_name, name)
        full = f"{module_name}.{name}"
        if what == "module":
            submodules.append(value.__name__)
        elif what == "function":
            lines += [f".. autofunction:: {full}", ""]
        elif what == "exception":
            lines += [f".. autoexception:: {full}", "   :show-inheritance:", ""]
        elif what == "class":
            # An enumeration is called with one value (inspect sees Enum's general *values).
            signature = "(value)" if issubclass(value, enum.Enum) else ""
            lines += [f".. autoclass:: {full}{signature}", "   :members:", "   :undoc-members:",
                      "   :show-inheritance:", ""]
        elif what == "alias":
            target = apinames.canonical(module_name, name)
            # An entry of its own (data, so that a bare class name in a signature still finds one
            # target: the full documentation).
            role = ("exc" if isinstance(value, type) and issubclass(value, BaseException)
                    else "class" if isinstance(value, type) else "func")
            lines += [f".. py:data:: {name}", f"   :module: {module_name}", "",
                      f"   The same object as :py:{role}:`{target}`, documented there.", ""]
        elif what == "facade":
            lines += [f".. py:data:: {name}", f"   :module: {module_name}", ""]
            lines += _indent(type(value).__doc__ or "")
            lines += ["", "   .. list-table::", "      :header-rows: 1", "",
                      "      * - method", "        - is the function"]
            for attr, fn in vars(type(value)).items():
                if attr.startswith("_"):
                    continue
                fn = getattr(value, attr)
                lines += [f"      * - ``{name}.{attr}``", f"        - :py:func:`{fn.__module__}.{fn.__name__}`"]
            lines.append("")
        else:
            description = apinames.CONSTANTS.get(full)
            if description is None:
                logger.warning("%s has no description in docs/_ext/apinames.py CONSTANTS", full)
                description = ""
            lines += [f".. py:data:: {name}", f"   :module: {module_name}",
                      f"   :type: {type(value).__name__}", f"   :value: {value!r}", "",
                      *_indent(description), ""]
    if submodules:
        refs = ", ".join(f":py:mod:`{m}`" for m in submodules)
        lines += [f"Submodules documented on their own: {refs}.", ""]
    return lines


class TesmarModule(SphinxDirective):
    required_arguments = 1
    has_content = False

    def run(self) -> list[nodes.Node]:
        module_name = self.arguments[0]
        self.env.note_dependency(apinames.__file__)
        container = nodes.container()
        content = StringList(module_rst(module_name), source=f"<tesmar-module {module_name}>")
        nested_parse_with_titles(self.state, content, container)
        return container.children


def check_inventory(app, exception) -> None:
    """Every public name of every public module must have been documented somewhere in the build."""
    if exception is not None or app.builder.name != "html":
        return
    domain = app.env.get_domain("py")
    documented = {name for name, *_ in domain.get_objects()}
    for module_name in apinames.public_modules():
        if module_name not in documented:
            logger.warning("module %s is missing from the API reference", module_name)
        for name in apinames.public_names(module_name):
            value = getattr(importlib.import_module(module_name), name)
            wanted = (value.__name__ if apinames.kind(module_name, name) == "module"
                      else f"{module_name}.{name}")
            if wanted not in documented:
                logger.warning("%s.%s is missing from the API reference", module_name, name)


def plain_docstring(app, what, name, obj, options, lines) -> None:
    """The docstrings are written for help(): an indented block in them is shown as it is."""
    out = []
    for i, line in enumerate(lines):
        indented = line.startswith(" ") and line.strip()
        after_blank = i > 0 and not lines[i - 1].strip()
        opener = next((x for x in reversed(lines[:i]) if x.strip()), "")
        if indented and after_blank and not opener.rstrip().endswith("::") and not opener.startswith(" "):
            out += ["::", ""]
        out.append(line)
    lines[:] = out


def setup(app):
    app.add_directive("tesmar-module", TesmarModule)
    app.connect("autodoc-process-docstring", plain_docstring)
    app.connect("build-finished", check_inventory)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
