"""An HTTP CONNECT proxy for the weather tests, standard library only.

    connect_test_proxy.py PORT_FILE LOG_FILE [USER PASSWORD]

Listens on 127.0.0.1 (a free port, written to PORT_FILE once listening),
accepts only CONNECT to 127.0.0.1, and, when USER and PASSWORD are given,
only with "Proxy-Authorization: Basic" of those. Every request is logged
to LOG_FILE as "CONNECT <target> <status>". Runs until SIGTERM.
"""
import base64
import os
import select
import socket
import sys
import threading

port_file, log_file = sys.argv[1], sys.argv[2]
credentials = None
if len(sys.argv) >= 5:
    credentials = base64.b64encode(f"{sys.argv[3]}:{sys.argv[4]}".encode()).decode()
log_lock = threading.Lock()


def log(line):
    with log_lock, open(log_file, "a") as out:
        out.write(line + "\n")


def relay(client, server):
    sockets = [client, server]
    while True:
        readable, _, _ = select.select(sockets, [], [], 120)
        if not readable:
            return
        for source in readable:
            data = source.recv(65536)
            if not data:
                return
            (server if source is client else client).sendall(data)


def handle(client):
    with client:
        client.settimeout(30)
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = client.recv(4096)
            if not chunk or len(head) > 65536:
                return
            head += chunk
        lines = head.split(b"\r\n\r\n", 1)[0].decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) != 3 or parts[0] != "CONNECT":
            log(f"{lines[0]} 405")
            client.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
            return
        target = parts[1]
        host, _, port = target.rpartition(":")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        if credentials is not None and headers.get("proxy-authorization") != "Basic " + credentials:
            log(f"CONNECT {target} 407")
            client.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                           b"Proxy-Authenticate: Basic realm=\"test\"\r\n"
                           b"Content-Length: 0\r\n\r\n")
            return
        if host != "127.0.0.1":
            log(f"CONNECT {target} 403")
            client.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            return
        try:
            server = socket.create_connection((host, int(port)), timeout=30)
        except (OSError, ValueError):
            log(f"CONNECT {target} 502")
            client.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
            return
        log(f"CONNECT {target} 200")
        with server:
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            client.settimeout(None)
            relay(client, server)


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(16)
with open(port_file + ".part", "w") as out:
    out.write(str(listener.getsockname()[1]))
os.rename(port_file + ".part", port_file)
while True:
    connection, _ = listener.accept()
    threading.Thread(target=handle, args=(connection,), daemon=True).start()
