"""Post-quantum encryption (scheme 8: X25519 + ML-KEM-1024) and an ML-DSA-87 signature."""
import tesmar
from tesmar.quantum import core

try:
    public_key, private_key = core.generate_keypair()  # GEN8, HIGHEST
except tesmar.QuantumOperationError as e:
    print("liboqs is not available:", e)
    print("  cause:", e.__cause__)
else:
    # `make demo` puts the test stand-in (insecure, for exercising tesmar only) on the loader path
    # when no real liboqs is installed; this line says which library answered (through the
    # adapter's private probe, which the type stubs leave out).
    backend = tesmar.quantum._oqs._oqs()  # type: ignore[attr-defined]
    print(f"backend: liboqs {backend.version} ({backend.path})")
    print(f"key pair: public {len(public_key)} bytes, private {len(private_key)} bytes, "
          f"header {public_key[0]:02x} {public_key[1]:02x} (scheme 8, strength 2)")
    secret, message = core.encrypt("Hello, post-quantum world ✓", public_key)
    print(f"encrypted: secret {len(secret)} bytes, message {len(message)} bytes")
    print("decrypted:", core.decrypt(message, private_key, secret))

    sig_public, sig_private = tesmar.sync.quantum.generate_signature_keypair()  # ML-DSA-87
    signature = tesmar.sync.quantum.sign(b"release-1.0.10.tar.gz", sig_private)
    print(f"ML-DSA-87 signature: {len(signature)} bytes, valid: "
          f"{tesmar.sync.quantum.verify(b'release-1.0.10.tar.gz', signature, sig_public)}, "
          f"over other data: {tesmar.sync.quantum.verify(b'tampered', signature, sig_public)}")
