# The far host of the traffic-per-program tests and benchmark, run inside the namespace:
# TCP on PORT sends back as many bytes as the request line asks for, then closes; UDP on PORT
# echoes every datagram. Prints "ready" once both listen.
import socket, sys, threading

addr, port = sys.argv[1], int(sys.argv[2])

def answer(conn):
    with conn:
        line = b""
        while not line.endswith(b"\n"):
            chunk = conn.recv(64)
            if not chunk:
                return
            line += chunk
        left = int(line)
        block = b"x" * 65536
        while left > 0:
            n = conn.send(block[: min(left, len(block))])
            left -= n

def tcp():
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((addr, port))
    s.listen(256)
    ready.set()
    while True:
        conn, _ = s.accept()
        threading.Thread(target=answer, args=(conn,), daemon=True).start()

def udp():
    u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    u.bind((addr, port))
    while True:
        data, peer = u.recvfrom(65536)
        u.sendto(data, peer)

ready = threading.Event()
threading.Thread(target=udp, daemon=True).start()
threading.Thread(target=tcp, daemon=True).start()
ready.wait()
print("ready", flush=True)
threading.Event().wait()
