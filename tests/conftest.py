import pytest
from hypothesis import settings

import emulation

# Under emulation a single example can outlast any deadline, and a tenth of the examples is what
# the time allows (tests that set their own count take emulation.examples(count)).
settings.register_profile("emulated", deadline=None, max_examples=10)
if emulation.EMULATED:
    settings.load_profile("emulated")


@pytest.fixture(scope="session")
def rsa_keys():
    """One RSA-4096 pair (private_pem, public_pem) from tesmar, shared by the whole session."""
    from tesmar.rsa import core

    return emulation.pem_pair("rsa") or core.new_key_pair()


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


@pytest.fixture
def liboqs_faults():
    """(fail(function), empty_sizes()) switches of the liboqs stand-in, reset afterwards.

    A real liboqs reports failure statuses and empty sizes only when broken, never on request, so
    the tests that use this run only against the stand-in.
    """
    from quantum_keys import standin_faults

    fail, empty, reset = standin_faults()
    yield fail, empty
    reset()


STANDIN_FIXTURES = {"sig_names", "liboqs_faults"}


def pytest_collection_modifyitems(items):
    for item in items:
        if STANDIN_FIXTURES & set(getattr(item, "fixturenames", ())):
            item.add_marker(pytest.mark.standin)
