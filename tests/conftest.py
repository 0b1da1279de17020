import pytest


@pytest.fixture(scope="session")
def rsa_keys():
    """One RSA-4096 pair (private_pem, public_pem) from tesmar, shared by the whole session."""
    from tesmar.rsa import core

    return core.new_key_pair()


@pytest.fixture
def sig_names():
    """Switches signature names on and off in the liboqs stand-in.

    A real liboqs cannot change its list of enabled signatures at run time, so the tests that use
    this run only against the stand-in (`make test` runs them in a second pass, with `-m standin`).
    """
    from quantum_keys import standin_controls

    enable, reset = standin_controls()
    yield enable
    reset()


def pytest_collection_modifyitems(items):
    for item in items:
        if "sig_names" in getattr(item, "fixturenames", ()):
            item.add_marker(pytest.mark.standin)
