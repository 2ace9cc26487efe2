#!/usr/bin/env python3
"""A bare loopback listener that stands in for the service's two TorvoTool exchanges, so the upload's
bytes are checked as they went on the wire, not as a server's parser understood them.

  raw_listener.py --port P --record FILE [--answer TEXT]

GET (the folder list) is answered "127.0.0.1|여행^3" in code page 949; the first POST is written to
FILE byte for byte and answered with TEXT; then the listener ends.
"""
import argparse
import socket
import sys


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return data
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    return head + b"\r\n\r\n" + body


def answer(conn, body):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=EUC-KR\r\nContent-Length: %d\r\n"
                 b"Connection: close\r\n\r\n" % len(body) + body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--record", required=True)
    parser.add_argument("--answer", default="20091201123456.png")
    args = parser.parse_args()
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", args.port))
    server.listen(8)
    print("listening", flush=True)
    server.settimeout(60)
    while True:
        conn, _ = server.accept()
        with conn:
            request = read_request(conn)
            if request.startswith(b"GET "):
                answer(conn, "127.0.0.1|여행^3".encode("cp949"))
            elif request.startswith(b"POST "):
                with open(args.record, "wb") as f:
                    f.write(request)
                answer(conn, args.answer.encode("ascii"))
                return 0


if __name__ == "__main__":
    sys.exit(main())
