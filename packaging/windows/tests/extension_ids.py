"""Prints the extension's two ids from its manifest: Chromium's origin (from the public key in
"key": the first 128 bits of its SHA-256, one letter a-p per four bits) and Firefox's add-on id."""
import base64
import hashlib
import json
import sys

manifest = json.load(open(sys.argv[1], encoding="utf-8"))
digest = hashlib.sha256(base64.b64decode(manifest["key"])).hexdigest()[:32]
chromium_id = "".join(chr(ord("a") + int(c, 16)) for c in digest)
print(f"chrome-extension://{chromium_id}/", manifest["browser_specific_settings"]["gecko"]["id"])
