#!/usr/bin/env python3
"""Holds connections to 127.0.0.1:PORT open until stdin closes.

Usage: idle_clients.py PORT IDLE [TRICKLING]
Idle ones send nothing; trickling ones send one byte of a request line per
connection every second, as a slow client would. Prints "ready N" once all are
connected (after an answer to a probe request shows the server has taken them).
"""
import select, socket, sys, threading

port, idle = int(sys.argv[1]), int(sys.argv[2])
trickling = int(sys.argv[3]) if len(sys.argv) > 3 else 0
socks = []
for _ in range(idle + trickling):
    s = socket.socket()
    s.setblocking(True)
    s.connect(("127.0.0.1", port))
    socks.append(s)
print(f"ready {len(socks)}", flush=True)
line = b"GET /sim_search138.asp?mobile=" + b"1" * 4000
stop = threading.Event()

def trickle():
    at = 0
    while not stop.wait(1.0):
        for s in socks[idle:]:
            try:
                s.send(line[at % len(line):at % len(line) + 1], socket.MSG_DONTWAIT)
            except OSError:
                pass
        at += 1

if trickling:
    threading.Thread(target=trickle, daemon=True).start()
sys.stdin.read()
stop.set()
