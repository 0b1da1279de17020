"""RSA keys, encryption of small and large data, signatures, and the hybrid envelope."""
import tesmar.sync as tm
from tesmar.errors import DecryptionError

private_pem, public_pem = tm.rsa.new_key_pair()  # RSA-4096, PEM text
print(public_pem.splitlines()[0], f"({len(public_pem)} characters)")

# Up to 446 bytes travel as one OAEP block; anything longer goes into the hybrid envelope.
small = tm.rsa.encrypt_bytes(b"a short secret", public_pem)
large = tm.rsa.encrypt_bytes(b"x" * 100_000, public_pem)
print(f"OAEP block: 14 bytes -> {len(small)} bytes; hybrid envelope: 100000 bytes -> {len(large)} bytes")
assert tm.rsa.decrypt_bytes(small, private_pem) == b"a short secret"
assert tm.rsa.decrypt_bytes(large, private_pem) == b"x" * 100_000

text = tm.rsa.encrypt("Grüße from tesmar", public_pem)  # Base64 text
print("text round trip:", tm.rsa.decrypt(text, private_pem))

signature = tm.rsa.sign("I agree", private_pem)  # RSA-PSS, SHA-256
print("signature valid:", tm.rsa.verify("I agree", signature, public_pem),
      "| altered text:", tm.rsa.verify("I agree!", signature, public_pem))

# The hybrid envelope directly: 4-byte key length, wrapped AES key, nonce, tag, ciphertext.
data = b"one byte or a gigabyte"
envelope = tm.hybrid.encrypt_bytes(data, public_pem)
key_length = int.from_bytes(envelope[:4], "little")
print(f"hybrid envelope: {len(data)} bytes -> {len(envelope)} bytes "
      f"(4 key length = {key_length}, {key_length} wrapped key, 12 nonce, 16 tag, {len(data)} ciphertext)")
print("opened:", tm.hybrid.decrypt_bytes(envelope, private_pem))
try:
    tm.hybrid.decrypt_bytes(envelope[:-1] + bytes([envelope[-1] ^ 1]), private_pem)
except DecryptionError as e:
    print("tampered:", e)
