# A program of known traffic for the traffic-per-program tests and benchmark.
#   client.py ADDR PORT tcp BYTES HOLD_MS      one download, the socket held HOLD_MS first
#   client.py ADDR PORT udp COUNT SIZE HOLD_MS COUNT datagrams of SIZE bytes, each echoed
#   client.py ADDR PORT short COUNT BYTES [HOLD_MS]  COUNT connections one after another
# Prints the bytes of payload it moved.
import socket, sys, time

addr, port, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def download(size, hold):
    s = socket.create_connection((addr, port), timeout=10)
    time.sleep(hold / 1000)
    s.sendall(b"%d\n" % size)
    got = 0
    while True:
        chunk = s.recv(1 << 16)
        if not chunk:
            break
        got += len(chunk)
    s.close()
    return got

moved = 0
if mode == "tcp":
    moved = download(int(sys.argv[4]), int(sys.argv[5]))
elif mode == "short":
    hold = int(sys.argv[6]) if len(sys.argv) > 6 else 0
    for _ in range(int(sys.argv[4])):
        moved += download(int(sys.argv[5]), hold)
elif mode == "udp":
    count, size, hold = int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6])
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    u.connect((addr, port))
    u.settimeout(2)
    time.sleep(hold / 1000)
    for _ in range(count):
        u.send(b"u" * size)
        moved += len(u.recv(65536))
    u.close()
print(moved, flush=True)
