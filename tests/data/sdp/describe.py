#!/usr/bin/python3
"""Prints the SDP description a server gives for a URL: one DESCRIBE on a
plain connection, the body of the answer written as it came (line ends kept).

  describe.py rtsp://127.0.0.1:8554/h264 > gstreamer_h264.sdp
"""
import socket
import sys
from urllib.parse import urlsplit

url = sys.argv[1]
parts = urlsplit(url)
sock = socket.create_connection((parts.hostname, parts.port or 554), timeout=10)
sock.sendall(f"DESCRIBE {url} RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n".encode())
data = b""
while b"\r\n\r\n" not in data:
    data += sock.recv(4096)
head, body = data.split(b"\r\n\r\n", 1)
length = 0
for line in head.split(b"\r\n"):
    if line.lower().startswith(b"content-length:"):
        length = int(line.split(b":", 1)[1])
while len(body) < length:
    body += sock.recv(4096)
sys.stdout.buffer.write(body[:length])
