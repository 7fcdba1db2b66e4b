#!/usr/bin/env python3
"""A loopback HTTPS server for the crash upload tests: https_form_server.py CERT KEY STATUS
BODY OUTDIR prints its port and pid, then parses each request strictly as multipart/form-data
and writes OUTDIR/N.part-NAME, N.head-NAME and, before it answers STATUS BODY, N.result."""

import os
import re
import socket
import ssl
import sys

BOUNDARY = re.compile(r"multipart/form-data; boundary=([0-9A-Za-z'()+_,./:=?-]{1,70})")
DISPOSITION = re.compile(r'form-data; name="([^"]+)"(?:; filename="([^"]+)")?')


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        data += chunk
        if not chunk:
            raise ValueError("connection closed in the head")
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    if not re.fullmatch(r"POST /\S* HTTP/1\.1", lines[0]):
        raise ValueError("request line " + lines[0])
    headers = {name.lower(): value for name, value in (line.split(": ", 1) for line in lines[1:])}
    length = int(headers["content-length"])
    while len(body) < length and (chunk := conn.recv(65536)):
        body += chunk
    if len(body) != length:
        raise ValueError("body of %d bytes, Content-Length %d" % (len(body), length))
    return headers, body


def parse_form(headers, body):
    match = BOUNDARY.fullmatch(headers.get("content-type", ""))
    if not match:
        raise ValueError("Content-Type " + headers.get("content-type", ""))
    pieces = (b"\r\n" + body).split(b"\r\n--" + match.group(1).encode())
    if len(pieces) < 3 or pieces[0] != b"" or pieces[-1] != b"--\r\n":
        raise ValueError("preamble, epilogue or close delimiter")
    parts = {}
    for piece in pieces[1:-1]:
        if not piece.startswith(b"\r\n"):
            raise ValueError("no CRLF after a delimiter")
        head, content = piece[2:].split(b"\r\n\r\n", 1)
        fields = dict(line.split(": ", 1) for line in head.decode("utf-8").split("\r\n"))
        disposition = DISPOSITION.fullmatch(fields.get("Content-Disposition", ""))
        if not disposition or disposition.group(1) in parts:
            raise ValueError("part disposition " + head.decode("utf-8"))
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
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], os.getpid(), flush=True)
    for number in range(1, 1000):
        raw, _ = listener.accept()
        prefix = os.path.join(outdir, str(number))
        raw.settimeout(30)
        try:
            conn = context.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            write(prefix + ".result", b"handshake failed")
            continue
        try:
            for name, (head, content) in parse_form(*read_request(conn)).items():
                write(prefix + ".part-" + name, content)
                write(prefix + ".head-" + name, head)
            write(prefix + ".result", b"ok")
        except (ValueError, KeyError, OSError) as error:
            write(prefix + ".result", b"bad: " + repr(error).encode())
        answer = "HTTP/1.1 %s X\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s"
        conn.sendall((answer % (status, len(reply), reply)).encode())
        conn.close()


if __name__ == "__main__":
    main()
