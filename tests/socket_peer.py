#!/usr/bin/env python3
"""An independent peer for CSocketPeerTest, made of plain Python sockets on
127.0.0.1. Every wait is limited; the exit status is 0 only when the peer got
what it expected.

  tcp-server       prints its port, answers one line in capitals, shuts down
                   its sending side and waits for the other side to close
  tcp-client PORT  sends a line and shuts down its sending side, then expects
                   that line in capitals until the other side closes
  udp-echo         prints its port, answers one datagram with "<sender port> "
                   and the datagram
  udp-send PORT    prints its port and sends one datagram to PORT
"""
import socket
import sys

LIMIT = 5.0
LINE = b"hello, library\n"


def receive_all(conn):
    data = b""
    while True:
        piece = conn.recv(4096)
        if not piece:
            return data
        data += piece


def tcp_server():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as listener:
        listener.settimeout(LIMIT)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        print(listener.getsockname()[1], flush=True)
        conn, _ = listener.accept()
        with conn:
            conn.settimeout(LIMIT)
            line = b""
            while not line.endswith(b"\n"):
                piece = conn.recv(4096)
                if not piece:
                    return False
                line += piece
            conn.sendall(line.upper())
            conn.shutdown(socket.SHUT_WR)
            return receive_all(conn) == b""


def tcp_client(port):
    with socket.create_connection(("127.0.0.1", port), timeout=LIMIT) as conn:
        conn.sendall(LINE)
        conn.shutdown(socket.SHUT_WR)
        return receive_all(conn) == LINE.upper()


def udp_echo():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
        udp.settimeout(LIMIT)
        udp.bind(("127.0.0.1", 0))
        print(udp.getsockname()[1], flush=True)
        data, sender = udp.recvfrom(4096)
        udp.sendto(b"%d " % sender[1] + data, sender)
        return True


def udp_send(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
        udp.bind(("127.0.0.1", 0))
        print(udp.getsockname()[1], flush=True)
        return udp.sendto(b"hello from python", ("127.0.0.1", port)) == 17


def main():
    mode, args = sys.argv[1], [int(a) for a in sys.argv[2:]]
    modes = {"tcp-server": tcp_server, "tcp-client": tcp_client,
             "udp-echo": udp_echo, "udp-send": udp_send}
    try:
        ok = modes[mode](*args)
    except OSError as error:
        print("peer:", error, file=sys.stderr)
        ok = False
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
