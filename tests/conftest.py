import pytest


@pytest.fixture(scope="session")
def rsa_keys():
    """One RSA-4096 pair (private_pem, public_pem) from tesmar, shared by the whole session."""
    from tesmar.rsa import core

    return core.new_key_pair()
