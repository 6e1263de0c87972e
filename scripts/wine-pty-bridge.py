#!/usr/bin/env python3
"""Pseudo-terminals for Windows programs under Wine.

A Windows program cannot open a pseudo-terminal pair itself. This bridge
listens on a loopback TCP port; every connection to it gets a new pair:
the slave is mapped to a free COM name of the Wine prefix (a link
<prefix>/dosdevices/comN, which Wine resolves at each open), the first line
sent back is "COMN <slave path>", and from then on the connection is the
far end, the master: bytes sent on it reach the port, bytes the port sends
come back on it. Closing the connection closes the master, which hangs the
port up, and removes the COM name.

Usage: wine-pty-bridge.py <dosdevices folder> <file or FIFO to write the TCP port to>
"""
import os
import pty
import selectors
import socket
import sys
import termios
import tty

dosdevices, port_file = sys.argv[1], sys.argv[2]
sel = selectors.DefaultSelector()


class Pair:
    def __init__(self, conn):
        self.conn = conn
        self.master, self.slave = pty.openpty()
        # Raw until the port sets its own line settings, so that nothing the
        # far end sends is changed on the way.
        tty.setraw(self.slave, termios.TCSANOW)
        self.path = os.ttyname(self.slave)
        self.link = None
        for n in range(10, 256):
            link = os.path.join(dosdevices, "com%d" % n)
            try:
                os.symlink(self.path, link)
            except FileExistsError:
                continue
            self.link, self.name = link, "COM%d" % n
            break
        if self.link is None:
            raise RuntimeError("no free COM name")
        os.set_blocking(self.master, False)
        self.to_master = b""
        conn.setblocking(True)
        conn.sendall(("%s %s\n" % (self.name, self.path)).encode())
        conn.setblocking(False)
        sel.register(conn, selectors.EVENT_READ, (self, "conn"))
        sel.register(self.master, selectors.EVENT_READ, (self, "master"))

    def close(self):
        for f in (self.conn, self.master):
            try:
                sel.unregister(f)
            except (KeyError, ValueError):
                pass
        self.conn.close()
        os.close(self.master)
        os.close(self.slave)
        try:
            os.unlink(self.link)
        except FileNotFoundError:
            pass

    def on_conn(self):
        try:
            data = self.conn.recv(65536)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        if not data:
            self.close()
            return
        self.to_master += data
        self.flush()

    def flush(self):
        while self.to_master:
            try:
                n = os.write(self.master, self.to_master)
            except BlockingIOError:
                break
            self.to_master = self.to_master[n:]
        events = selectors.EVENT_READ | (selectors.EVENT_WRITE if self.to_master else 0)
        sel.modify(self.master, events, (self, "master"))

    def on_master(self, mask):
        if mask & selectors.EVENT_WRITE:
            self.flush()
        if mask & selectors.EVENT_READ:
            try:
                data = os.read(self.master, 65536)
            except BlockingIOError:
                return
            except OSError:
                return
            if data:
                self.conn.setblocking(True)
                try:
                    self.conn.sendall(data)
                except OSError:
                    pass
                self.conn.setblocking(False)


listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(64)
listener.setblocking(False)
sel.register(listener, selectors.EVENT_READ, (None, "listen"))
with open(port_file, "w") as f:
    f.write("%d\n" % listener.getsockname()[1])

pairs = []
try:
    while True:
        for key, mask in sel.select():
            owner, kind = key.data
            if kind == "listen":
                try:
                    conn, _ = listener.accept()
                except BlockingIOError:
                    continue
                conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                pairs.append(Pair(conn))
            elif kind == "conn":
                owner.on_conn()
            else:
                owner.on_master(mask)
except KeyboardInterrupt:
    pass
finally:
    for p in pairs:
        if p.link and os.path.lexists(p.link):
            os.unlink(p.link)
