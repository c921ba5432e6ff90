#!/usr/bin/env python3
"""An independent peer for CSocketTest: plain Python sockets on 127.0.0.1,
every wait limited; exit status 0 only when it got what it expected.
  tcp PORT  connects, sends LINE, shuts down its side, expects LINE in capitals
  udp PORT  sends LINE from a port the kernel chooses, prints that port,
            expects LINE back in capitals
"""
import socket
import sys

LINE = b"hello from python\n"
socket.setdefaulttimeout(5)


def main(mode, port):
    to = ("127.0.0.1", int(port))
    if mode == "tcp":
        with socket.create_connection(to) as conn:
            conn.sendall(LINE)
            conn.shutdown(socket.SHUT_WR)
            data = b""
            while piece := conn.recv(100):
                data += piece
            return data == LINE.upper()
    with socket.socket(type=socket.SOCK_DGRAM) as udp:
        udp.sendto(LINE, to)
        print(udp.getsockname()[1], flush=True)
        return udp.recv(100) == LINE.upper()


try:
    sys.exit(0 if main(*sys.argv[1:]) else 1)
except OSError as error:
    sys.exit("peer: %s" % error)
