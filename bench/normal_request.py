#!/usr/bin/env python3
"""Times N normal lookups on new connections, one after another.

Usage: normal_request.py PORT N   -> prints "MEDIAN_MS WORST_MS UNANSWERED"
"""
import socket, statistics, sys, time

port, n = int(sys.argv[1]), int(sys.argv[2])
request = b"GET /sim_search138.asp?mobile=13800138000 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
times, unanswered = [], 0
for _ in range(n):
    start = time.perf_counter()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
            s.sendall(request)
            got = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                got += chunk
        if not got.startswith(b"HTTP/1.1 200"):
            raise OSError("no answer")
        times.append((time.perf_counter() - start) * 1000)
    except OSError:
        unanswered += 1
import os
if os.environ.get("ALL"): print(" ".join(f"{t:.1f}" for t in times))
print(f"{statistics.median(times) if times else float('inf'):.2f} {max(times) if times else float('inf'):.2f} {unanswered}")
