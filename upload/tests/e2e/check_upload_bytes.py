#!/usr/bin/env python3
"""Checks the upload request a bare listener recorded (raw_listener.py) against the bytes TorvoTool
must send for the given fields and thumbnail, on every system it runs on.

  check_upload_bytes.py REQUEST PNG --tid T --url U --title T --note N --public P|S --folder F

Prints "ok: ..." and ends 0 when they are equal byte for byte, else "FAIL: ..." and ends 1.
"""
import argparse
import sys


def coding(text):
    return "".join("%%%02X" % b for b in text.encode("cp949"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("request")
    parser.add_argument("png")
    for field in ("--tid", "--url", "--title", "--note", "--public", "--folder"):
        parser.add_argument(field, required=True)
    parser.add_argument("--what", default="raw")
    args = parser.parse_args()
    request = open(args.request, "rb").read()
    png = open(args.png, "rb").read()
    body = (b"--7d4b2315b01da\r\nContent-Disposition:name=\"MAX_FILE_SIZE\"\r\n\r\n\r\n"
            b"--7d4b2315b01da\r\nContent-Disposition:attachment;name=\"uploadfile\";filename=\"a.png\"\r\n"
            b"Content-Type:image/pjpeg\r\nContent-Transfer-Encoding: binary\r\n\r\n" + png + b"\r\n--7d4b2315b01da\r\n")
    target = ("http://127.0.0.1/imgUpload.php?tid=" + args.tid + "&url=" + coding(args.url) +
              "&title=" + coding(args.title) + "&note=" + coding(args.note) + "&public=" + args.public +
              "&folder=" + args.folder)
    expected = (("POST %s HTTP/1.1\r\nContent-Type:multipart/form-data;boundary=7d4b2315b01da\r\nHost:127.0.0.1\r\n"
                 "Content-Length:%d\r\n\r\n" % (target, len(body))).encode("ascii") + body)
    if request == expected:
        print("ok: %s: the request is byte for byte the expected one (%d bytes, content length %d = %d + 229)"
              % (args.what, len(request), len(body), len(png)))
        return 0
    print("FAIL: %s: request differs\n got: %r\nwant: %r" % (args.what, request[:400], expected[:400]))
    return 1


if __name__ == "__main__":
    sys.exit(main())
