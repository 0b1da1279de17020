"""Every example of the documentation runs: docs/*.rst and README.md (see docs_examples)."""
import textwrap

import pytest

import docs_examples as ex

PAGES = ex.pages()


@pytest.mark.subprocesses  # a page's console examples start the command line, one interpreter each
@pytest.mark.parametrize("path", PAGES, ids=[str(p.relative_to(ex.ROOT)) for p in PAGES])
def test_page_examples_run(path, tmp_path):
    missing = ex.missing_programs(path)
    if missing:  # a bare interpreter root (make test-pythons); make test has them
        pytest.skip(f"{', '.join(missing)} not installed")
    ex.run_page(path, tmp_path)


def test_examples_are_found():
    """The collector sees the pages' blocks: a page whose examples silently stopped running fails here."""
    runnable = {p.relative_to(ex.ROOT).as_posix(): [b.lang for b in ex.blocks_of(p) if b.lang in ex.RUN]
                for p in PAGES}
    for page in ("README.md", "docs/getting-started.rst", "docs/cli.rst", "docs/interop.rst",
                 "docs/families/aes.rst", "docs/families/quantum.rst"):
        assert runnable[page], page
    assert {"python", "pycon", "console"} <= {lang for langs in runnable.values() for lang in langs}
    # Shell blocks that are not run must not look like sessions: a `$ ` line belongs in a console block.
    for p in PAGES:
        for b in ex.blocks_of(p):
            if b.lang not in ex.RUN:
                assert not any(line.startswith("$ ") for line in b.text.splitlines()), (p, b.line)


BROKEN = {
    "python": """
        .. code-block:: python

           assert 1 + 1 == 3
        """,
    "pycon output": """
        .. code-block:: pycon

           >>> print("shown")
           not what it prints
        """,
    "pycon error": """
        .. code-block:: pycon

           >>> from tesmar.aes import core
           >>> core.decrypt_str("bm90IGFuIGVudmVsb3Bl", "key")
           'never'
        """,
    "console output": """
        .. code-block:: console

           $ echo hello
           goodbye
        """,
    "console unshown output": """
        .. code-block:: console

           $ echo unexpected
        """,
    "console status": """
        .. code-block:: console

           $ tesmar verify missing.txt missing.sig --key missing.pem
        """,
    "markdown": """
        ```python
        import tesmar
        tesmar.no_such_name
        ```
        """,
}


# What each broken page must raise: the example's own error, or the runner's report of a mismatch.
RAISES = {"python": AssertionError, "markdown": AttributeError}


@pytest.mark.parametrize("kind", BROKEN)
def test_a_broken_example_fails(kind, tmp_path):
    page = tmp_path / ("page.md" if kind == "markdown" else "page.rst")
    page.write_text(textwrap.dedent(BROKEN[kind]))
    (tmp_path / "run").mkdir()
    with pytest.raises(RAISES.get(kind, ex.ExampleFailed)) as caught:
        ex.run_page(page, tmp_path / "run")
    if kind.startswith("console"):
        assert "page.rst:" in str(caught.value)


def test_a_working_page_passes(tmp_path):
    """The same shapes, correct, pass: the failures above come from the examples, not the runner."""
    page = tmp_path / "page.rst"
    page.write_text(textwrap.dedent("""
        .. code-block:: python

           from tesmar.aes import core
           token = core.encrypt_str("hi", "key text")

        .. code-block:: pycon

           >>> core.decrypt_str(token, "key text")
           'hi'
           >>> core.decrypt_str(token, "other key")
           Traceback (most recent call last):
             ...
           tesmar.errors.DecryptionError: ...

        .. code-block:: console

           $ echo hello && \\
             echo again
           hello
           again
           $ printf 'x\\n' > f.txt && python -c "print(open('f.txt').read().strip())"
           x
           $ tesmar --version
           tesmar ...
        """))
    (tmp_path / "run").mkdir()
    assert ex.run_page(page, tmp_path / "run") == 3
