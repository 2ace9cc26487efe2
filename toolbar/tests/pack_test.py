#!/usr/bin/env python3
"""The packed extension: two packings give the same bytes; the CRX's header is read back field by
field, its signature verified with openssl against the public key it carries, which is the
manifest's key and gives the extension's ID; the zip holds exactly the extension's files.

  pack_test.py PACK_SCRIPT EXTENSION_DIR KEY BUILT_CRX BUILT_XPI
"""
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


def varint(data, at):
    value, shift = 0, 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def fields(data):
    """A protocol buffer's length-delimited fields as (number, bytes); anything else fails."""
    out, at = [], 0
    while at < len(data):
        key, at = varint(data, at)
        assert key & 7 == 2, "field %d is not length-delimited" % (key >> 3)
        length, at = varint(data, at)
        out.append((key >> 3, data[at:at + length]))
        at += length
    assert at == len(data)
    return out


def main():
    script, extension, key, built_crx, built_xpi = sys.argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        for run in ("a", "b"):
            subprocess.run([sys.executable, script, "--extension", extension, "--key", key,
                            "--crx", os.path.join(tmp, run + ".crx"), "--xpi", os.path.join(tmp, run + ".xpi")], check=True)
        crx = open(os.path.join(tmp, "a.crx"), "rb").read()
        xpi = open(os.path.join(tmp, "a.xpi"), "rb").read()
        assert crx == open(os.path.join(tmp, "b.crx"), "rb").read(), "two packings gave different CRX files"
        assert xpi == open(os.path.join(tmp, "b.xpi"), "rb").read(), "two packings gave different XPI files"
        assert crx == open(built_crx, "rb").read(), "the build's CRX differs from a fresh packing"
        assert xpi == open(built_xpi, "rb").read(), "the build's XPI differs from a fresh packing"

        magic, version, header_length = struct.unpack("<4sII", crx[:12])
        assert (magic, version) == (b"Cr24", 3), (magic, version)
        header, archive = crx[12:12 + header_length], crx[12 + header_length:]
        assert archive == xpi, "the CRX's zip is not the XPI"
        header_fields = fields(header)
        assert [n for n, _ in header_fields] == [2, 10000], header_fields
        proof = dict(fields(header_fields[0][1]))
        public_key, signature = proof[1], proof[2]
        manifest = json.load(open(os.path.join(extension, "manifest.json"), encoding="utf-8"))
        assert base64.b64decode(manifest["key"]) == public_key, "the CRX's key is not the manifest's"
        signed_header = header_fields[1][1]
        assert fields(signed_header) == [(1, hashlib.sha256(public_key).digest()[:16])], "the CRX names another ID"

        der = os.path.join(tmp, "public.der")
        open(der, "wb").write(public_key)
        signed = os.path.join(tmp, "signed")
        open(signed, "wb").write(b"CRX3 SignedData\x00" + struct.pack("<I", len(signed_header)) + signed_header + archive)
        open(os.path.join(tmp, "signature"), "wb").write(signature)
        verify = subprocess.run(["openssl", "dgst", "-sha256", "-verify", der, "-keyform", "DER",
                                 "-signature", os.path.join(tmp, "signature"), signed], capture_output=True, text=True)
        assert verify.returncode == 0, "the CRX's signature does not verify: " + verify.stdout + verify.stderr

    names = sorted(os.path.relpath(os.path.join(root, f), extension)
                   for root, _, files in os.walk(extension) for f in files)
    with zipfile.ZipFile(io.BytesIO(xpi)) as archive_file:
        entries = archive_file.infolist()
        assert [e.filename for e in entries] == names, [e.filename for e in entries]
        for entry in entries:
            assert archive_file.read(entry) == open(os.path.join(extension, entry.filename), "rb").read(), entry.filename
            assert entry.date_time == (1980, 1, 1, 0, 0, 0), entry
    print("pack_test: reproducible, signed, with the manifest's key and the extension's %d files" % len(names))


if __name__ == "__main__":
    main()
