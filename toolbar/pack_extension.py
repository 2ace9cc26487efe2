#!/usr/bin/env python3
"""Packs the extension folder for installing outside the stores: a CRX (format 3) for Chromium,
signed with the packing key, and an XPI (the same zip) for Firefox.

The same folder and key give the same bytes on every build: the zip's entries come in name order
with a fixed time stamp and permissions, and the CRX's RSA PKCS#1 v1.5 signature is deterministic.

  pack_extension.py --extension DIR --key PEM [--crx OUT] [--xpi OUT] [--print-id]
"""
import argparse
import base64
import hashlib
import io
import json
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

FIXED_TIME = (1980, 1, 1, 0, 0, 0)  # the earliest a zip can hold


def extension_zip(folder):
    files = []
    for root, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in names:
            if not name.startswith("."):
                path = os.path.join(root, name)
                files.append((os.path.relpath(path, folder).replace(os.sep, "/"), path))
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for name, path in sorted(files):
            info = zipfile.ZipInfo(name, FIXED_TIME)
            info.create_system = 3  # Unix, so the permissions below are read as such
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    return out.getvalue()


def public_key_der(key):
    return subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"],
                          check=True, capture_output=True).stdout


def chromium_id(public_der):
    """The first 128 bits of the key's SHA-256, one letter a-p for each four bits."""
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(public_der).hexdigest()[:32])


def sign(key, data):
    with tempfile.NamedTemporaryFile() as unsigned:
        unsigned.write(data)
        unsigned.flush()
        return subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, unsigned.name],
                              check=True, capture_output=True).stdout


# The CRX header is a small protocol buffer: its fields are written out by hand.
def varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        out.append(byte | (0x80 if value else 0))
        if not value:
            return bytes(out)


def field(number, payload):
    return varint(number << 3 | 2) + varint(len(payload)) + payload


def crx3(archive, key, public_der):
    # SignedData { crx_id = 1 }: the ID's 16 bytes.
    signed_header = field(1, hashlib.sha256(public_der).digest()[:16])
    signature = sign(key, b"CRX3 SignedData\x00" + struct.pack("<I", len(signed_header)) + signed_header + archive)
    # CrxFileHeader { sha256_with_rsa = 2 (AsymmetricKeyProof { public_key = 1, signature = 2 }),
    #                 signed_header_data = 10000 }
    header = field(2, field(1, public_der) + field(2, signature)) + field(10000, signed_header)
    return b"Cr24" + struct.pack("<II", 3, len(header)) + header + archive


def write(path, data):
    # Replaced whole, so a build stopped half-way leaves no cut file behind.
    partial = path + ".partial"
    with open(partial, "wb") as f:
        f.write(data)
    os.replace(partial, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--extension", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--crx")
    parser.add_argument("--xpi")
    parser.add_argument("--print-id", action="store_true")
    args = parser.parse_args()

    public_der = public_key_der(args.key)
    manifest = json.load(open(os.path.join(args.extension, "manifest.json"), encoding="utf-8"))
    # The unpacked and the packed extension must be one extension: one ID.
    if base64.b64decode(manifest.get("key", "")) != public_der:
        sys.exit("pack_extension: the manifest's \"key\" is not the packing key's public key")
    if args.print_id:
        print(chromium_id(public_der))
    archive = extension_zip(args.extension)
    if args.crx:
        write(args.crx, crx3(archive, args.key, public_der))
    if args.xpi:
        write(args.xpi, archive)


if __name__ == "__main__":
    main()
