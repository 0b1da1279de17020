"""AES-256-GCM envelopes under a passphrase or a raw key."""
import asyncio
import base64
import os

import tesmar
from tesmar.sync import aes

token = aes.encrypt("meet me at noon", "correct horse battery staple")
print("passphrase token:", token)
print("decrypted:       ", aes.decrypt(token, "correct horse battery staple"))

raw_key = base64.b64encode(os.urandom(32)).decode()  # Base64 of 32 bytes is used as the key itself
blob = aes.encrypt_bytes(b"\x00\x01binary", raw_key)
print(f"bytes envelope:   {len(blob)} bytes (12 nonce + 8 data + 16 tag)")

try:
    aes.decrypt(token, "wrong key")
except tesmar.DecryptionError as e:
    print("wrong key:       ", e)


async def concurrently() -> list[str]:
    tokens = await asyncio.gather(*(tesmar.aes.encrypt(f"message {i}", "k") for i in range(3)))
    return await asyncio.gather(*(tesmar.aes.decrypt(t, "k") for t in tokens))

print("async gather:    ", asyncio.run(concurrently()))
