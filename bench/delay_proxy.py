#!/usr/bin/env python3
"""TCP proxy on 127.0.0.1 that adds a round-trip time to every connection through it.

usage: delay_proxy.py UPSTREAM_PORT [--rtt-ms MS]

Listens on a free port of 127.0.0.1, prints that port as its first line on standard output,
and forwards every connection it accepts to 127.0.0.1:UPSTREAM_PORT. Each chunk read from
one side reaches the other side half a round trip after it was read, in order; throughput is
not limited. A connection's first bytes towards the server also wait out the round trip of
the TCP handshake that a real network would cost, since the handshake with the proxy itself
takes no time.

On SIGUSR1 it prints one line of counts since the previous SIGUSR1 and starts them over:
  connections=N peak=N chunks=N late_mean_ms=X late_max_ms=X
peak is the most connections open at once; a chunk's lateness is how long after its due
time it was written, the time the proxy itself added beyond the round trip. SIGTERM ends it.
"""

import argparse
import asyncio
import signal
import sys

CHUNK_BYTES = 256 * 1024
QUEUED_CHUNKS = 64  # per direction; a reader that falls behind holds back the sender


class Counts:
    def __init__(self):
        self.open = 0
        self.reset()

    def reset(self):
        self.connections = 0
        self.peak = self.open
        self.chunks = 0
        self.late_total = 0.0
        self.late_max = 0.0

    def opened(self):
        self.open += 1
        self.connections += 1
        self.peak = max(self.peak, self.open)

    def closed(self):
        self.open -= 1

    def forwarded(self, lateness):
        self.chunks += 1
        self.late_total += lateness
        self.late_max = max(self.late_max, lateness)

    def report(self):
        mean = self.late_total / self.chunks if self.chunks else 0.0
        print(f"connections={self.connections} peak={self.peak} chunks={self.chunks} "
              f"late_mean_ms={mean * 1e3:.2f} late_max_ms={self.late_max * 1e3:.2f}", flush=True)
        self.reset()


async def receive(reader, queue, delay, not_before):
    """Queues each chunk read with the time it is due on the other side: `delay` seconds
    after it was read, or after `not_before` if that is later. An empty chunk ends the stream."""
    loop = asyncio.get_running_loop()
    while True:
        data = await reader.read(CHUNK_BYTES)
        await queue.put((max(loop.time(), not_before) + delay, data))
        if not data:
            return


async def send(queue, writer, counts):
    """Writes each queued chunk at its due time; passes the end of the stream on."""
    loop = asyncio.get_running_loop()
    while True:
        due, data = await queue.get()
        wait = due - loop.time()
        if wait > 0:
            await asyncio.sleep(wait)
        counts.forwarded(max(loop.time() - due, 0.0))
        if not data:
            if writer.can_write_eof():
                writer.write_eof()
            return
        writer.write(data)
        await writer.drain()


async def serve(upstream_port, rtt):
    counts = Counts()
    half = rtt / 2
    loop = asyncio.get_running_loop()

    async def relay(client_reader, client_writer):
        accepted = loop.time()
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", upstream_port)
        except OSError:
            client_writer.close()
            return
        counts.opened()
        up, down = asyncio.Queue(QUEUED_CHUNKS), asyncio.Queue(QUEUED_CHUNKS)
        tasks = [asyncio.create_task(receive(client_reader, up, half, accepted + rtt)),
                 asyncio.create_task(send(up, server_writer, counts)),
                 asyncio.create_task(receive(server_reader, down, half, accepted)),
                 asyncio.create_task(send(down, client_writer, counts))]
        # Both directions run to their end; a side that fails (reset, closed) ends them all.
        done, _ = await asyncio.wait(tasks, return_when=asyncio.FIRST_EXCEPTION)
        for task in tasks:
            task.cancel()
        for task in done:
            task.exception()  # a reset peer is normal here; retrieved so it is not logged
        counts.closed()
        for writer in (client_writer, server_writer):
            writer.close()

    server = await asyncio.start_server(relay, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    ended = asyncio.Event()
    loop.add_signal_handler(signal.SIGUSR1, counts.report)
    loop.add_signal_handler(signal.SIGTERM, ended.set)
    loop.add_signal_handler(signal.SIGINT, ended.set)
    async with server:
        await ended.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("upstream_port", type=int)
    parser.add_argument("--rtt-ms", type=float, default=20.0,
                        help="round-trip time added, half each way (default 20)")
    args = parser.parse_args()
    asyncio.run(serve(args.upstream_port, args.rtt_ms / 1e3))
    return 0


if __name__ == "__main__":
    sys.exit(main())
