"""The `tesmar` command's reference, generated from its argument parser.

``.. tesmar-cli::`` writes one section per subcommand: its usage line as argparse prints it, what
it does, a table of its arguments (with choices and defaults) and the parser's own example.
"""
from __future__ import annotations

import argparse
import textwrap

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles


def _parser() -> argparse.ArgumentParser:
    from tesmar import cli
    return cli._build_parser()


def _subparsers(parser: argparse.ArgumentParser) -> dict[str, argparse.ArgumentParser]:
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return dict(action.choices)
    return {}


def _literal(text: str) -> list[str]:
    return ["::", ""] + ["   " + line for line in text.rstrip().splitlines()] + [""]


def _cell(text: str) -> str:
    return text.replace("|", "\\|").replace("*", "\\*")


def _arguments(parser: argparse.ArgumentParser) -> list[str]:
    rows = []
    for action in parser._actions:
        if action.help == argparse.SUPPRESS or isinstance(action, argparse._SubParsersAction):
            continue
        if action.option_strings:
            names = ", ".join(action.option_strings)
            if action.nargs != 0:
                names += " " + (action.metavar or action.dest.upper())
        else:
            names = action.metavar or action.dest
        text = action.help or ""
        if action.choices and not isinstance(action, argparse._SubParsersAction):
            text += (" " if text else "") + "(one of: " + ", ".join(map(str, action.choices)) + ")"
        if (action.option_strings and action.default not in (None, False, argparse.SUPPRESS)
                and action.nargs != 0 and "default" not in text):
            text += f" (default: {action.default})"
        rows.append((names, text))
    lines = [".. list-table::", "   :header-rows: 1", "   :widths: 30 70", "",
             "   * - argument", "     - meaning"]
    for names, text in rows:
        lines += [f"   * - ``{names}``", f"     - {_cell(text)}"]
    return lines + [""]


def cli_rst() -> list[str]:
    parser = _parser()
    lines = ["Usage", "-----", ""] + _literal(parser.format_usage().removeprefix("usage: "))
    lines += [parser.description or "", ""] + _arguments(parser)
    lines += _literal(parser.epilog or "")
    for name, sub in _subparsers(parser).items():
        lines += [f"tesmar {name}", "-" * (len(name) + 7), ""]
        description = sub.description or ""
        lines += [description[:1].upper() + description[1:] + ".", ""]
        lines += _literal(sub.format_usage().removeprefix("usage: "))
        lines += _arguments(sub)
        if sub.epilog:
            example = textwrap.dedent(sub.epilog.removeprefix("example:\n")).strip()
            lines += ["Example" + ("s:" if "\n" in example else ":"), ""] + _literal(example)
    return lines


class TesmarCli(SphinxDirective):
    has_content = False

    def run(self) -> list[nodes.Node]:
        container = nodes.container()
        nested_parse_with_titles(self.state, StringList(cli_rst(), source="<tesmar-cli>"), container)
        return container.children


def setup(app):
    app.add_directive("tesmar-cli", TesmarCli)
    return {"parallel_read_safe": True}
