#!/usr/bin/env python3
"""A loopback HTTPS server for the crash upload tests.

    https_form_server.py CERT KEY STATUS BODY OUTDIR

Prints its port, then serves one request per connection. Each request body is parsed as
multipart/form-data, strictly: the boundary from Content-Type, a body of exactly
Content-Length bytes, CRLF line ends, a Content-Disposition on every part. For request N it
writes OUTDIR/N.part-NAME (the part's bytes) and OUTDIR/N.head-NAME (its header lines), then
OUTDIR/N.result ("ok", or "bad: why", or "handshake failed") last, and answers STATUS BODY.
"""

import os
import re
import socket
import ssl
import sys

BOUNDARY = re.compile(r"multipart/form-data; boundary=([0-9A-Za-z'()+_,./:=?-]{1,70})")
DISPOSITION = re.compile(r'form-data; name="([^"]+)"(?:; filename="([^"]+)")?')


class Bad(Exception):
    pass


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            raise Bad("connection closed in the head")
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    if not re.fullmatch(r"POST /\S* HTTP/1\.1", lines[0]):
        raise Bad("request line " + lines[0])
    headers = {}
    for line in lines[1:]:
        name, sep, value = line.partition(": ")
        if not sep:
            raise Bad("header line " + line)
        headers[name.lower()] = value
    length = headers.get("content-length", "")
    if not length.isdigit():
        raise Bad("no Content-Length")
    while len(body) < int(length):
        chunk = conn.recv(65536)
        if not chunk:
            raise Bad("body shorter than Content-Length")
        body += chunk
    if len(body) != int(length):
        raise Bad("body longer than Content-Length")
    return headers, body


def parse_form(headers, body):
    match = BOUNDARY.fullmatch(headers.get("content-type", ""))
    if not match:
        raise Bad("Content-Type " + headers.get("content-type", ""))
    delimiter = b"\r\n--" + match.group(1).encode()
    pieces = (b"\r\n" + body).split(delimiter)
    if len(pieces) < 3 or pieces[0] != b"" or pieces[-1] != b"--\r\n":
        raise Bad("preamble, epilogue or close delimiter")
    parts = {}
    for piece in pieces[1:-1]:
        if not piece.startswith(b"\r\n") or b"\r\n\r\n" not in piece:
            raise Bad("part without CRLF or header end")
        head, content = piece[2:].split(b"\r\n\r\n", 1)
        fields = dict(line.split(": ", 1) for line in head.decode("utf-8").split("\r\n"))
        disposition = DISPOSITION.fullmatch(fields.get("Content-Disposition", ""))
        if not disposition or disposition.group(1) in parts:
            raise Bad("part disposition " + head.decode("utf-8"))
        parts[disposition.group(1)] = (head, content)
    return parts


def write(path, data):
    with open(path + ".tmp", "wb") as out:
        out.write(data)
    os.rename(path + ".tmp", path)


def main():
    cert, key, status, reply, outdir = sys.argv[1:6]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    number = 0
    while True:
        raw, _ = listener.accept()
        number += 1
        prefix = os.path.join(outdir, str(number))
        raw.settimeout(30)
        try:
            conn = context.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            raw.close()
            write(prefix + ".result", b"handshake failed")
            continue
        try:
            for name, (head, content) in parse_form(*read_request(conn)).items():
                write(prefix + ".part-" + name, content)
                write(prefix + ".head-" + name, head)
            result = b"ok"
        except (Bad, ValueError, OSError) as error:
            result = b"bad: " + str(error).encode()
        write(prefix + ".result", result)
        answer = f"HTTP/1.1 {status} X\r\nContent-Length: {len(reply)}\r\nConnection: close\r\n\r\n"
        try:
            conn.sendall(answer.encode() + reply.encode())
            conn.close()
        except OSError:
            pass


if __name__ == "__main__":
    main()
