#!/usr/bin/env python3
"""The scheduler's own CPU time per request, by kind of request.

    request_cost.py SOCKET QUEUES PID [COUNT]

Sends COUNT (default 500) requests of each kind, one after another on one
connection to the CUPS scheduler at SOCKET (a Unix socket), whose process
is PID and whose queues are named Q0 .. Q(QUEUES-1), and prints one line
per kind: its name, then the scheduler's user and system CPU time per
request in milliseconds (from /proc/PID/stat), then the client's wall time
per request. Requests are written here byte by byte, so that nothing but
the scheduler's work is measured.
"""
import os
import socket
import struct
import sys
import time


def attribute(tag, name, value):
    value = value if isinstance(value, bytes) else value.encode()
    return bytes([tag]) + struct.pack(">H", len(name)) + name.encode() + struct.pack(">H", len(value)) + value


def request(operation, request_id, uri=None, wanted=(), extra=b""):
    body = struct.pack(">BBHI", 2, 0, operation, request_id) + b"\x01"
    body += attribute(0x47, "attributes-charset", "utf-8") + attribute(0x48, "attributes-natural-language", "en")
    if uri:
        body += attribute(0x45, "printer-uri", uri)
    body += attribute(0x42, "requesting-user-name", "root")
    for index, name in enumerate(wanted):  # a 1setOf: the name once, then empty names
        body += attribute(0x44, "" if index else "requested-attributes", name)
    body += extra + b"\x03"
    head = b"POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\nContent-Length: %d\r\n\r\n"
    return head % len(body) + body


def read_answer(connection):
    data = b""
    while b"\r\n\r\n" not in data:
        data += connection.recv(65536)
    head, body = data.split(b"\r\n\r\n", 1)
    fields = head.decode("latin-1").lower()
    if "content-length:" in fields:
        length = int(fields.split("content-length:")[1].split("\r\n")[0])
        while len(body) < length:
            body += connection.recv(65536)
    else:  # chunked: up to the last, empty chunk
        while not body.endswith(b"0\r\n\r\n"):
            body += connection.recv(65536)


def cpu_ticks(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def integer(name, value):
    return attribute(0x21, name, struct.pack(">i", value))


def main():
    path, queues, pid = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 500

    def queue(i):  # spread over the scheduler's queues
        return f"ipp://localhost/printers/Q{i * 7 % queues}"

    kinds = {
        "Get-Printer-Attributes": lambda i: request(0x0B, i, queue(i), ("printer-name", "printer-type")),
        "Get-Printer-Attributes, no such queue": lambda i: request(0x0B, i, f"ipp://localhost/printers/Nowhere{i}",
                                                                   ("printer-name", "printer-type")),
        "CUPS-Get-Printers, limit 64": lambda i: request(0x4002, i, None, ("printer-name", "printer-type"),
                                                         integer("limit", 64)),
        "CUPS-Get-Default (no queue read)": lambda i: request(0x4001, i, None, ("printer-name",)),
    }
    hertz = os.sysconf("SC_CLK_TCK")
    for name, make in kinds.items():
        connection = socket.socket(socket.AF_UNIX)
        connection.connect(path)
        before, start = cpu_ticks(pid), time.perf_counter()
        for i in range(1, count + 1):
            connection.sendall(make(i))
            read_answer(connection)
        wall = (time.perf_counter() - start) * 1000 / count
        print(f"{name}\t{(cpu_ticks(pid) - before) * 1000 / hertz / count:.2f}\t{wall:.2f}")
        connection.close()


if __name__ == "__main__":
    main()
