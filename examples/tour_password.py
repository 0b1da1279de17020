"""Password-hash records: hash once, verify at every login, rehash when the record is weak."""
import json

import tesmar.sync

record = tesmar.sync.password.hash("correct horse battery staple")
print("record:", record)
print("verify right password:", tesmar.sync.password.verify("correct horse battery staple", record))
print("verify wrong password:", tesmar.sync.password.verify("Tr0ub4dor&3", record))
print("needs rehash:", tesmar.sync.password.needs_rehash(record))

old = tesmar.sync.password.hash("correct horse battery staple", iterations=10000)
print("record with", json.loads(old)["parameters"]["iterations"], "iterations needs rehash:",
      tesmar.sync.password.needs_rehash(old))
