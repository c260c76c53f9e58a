#!/usr/bin/env python3
"""latency_proxy.py - a loopback TCP proxy that holds every chunk for half a round-trip
time in each direction, so a benchmark on 127.0.0.1 sees a distant server.

  latency_proxy.py LISTEN_PORT TARGET_PORT RTT_MS MAX_SECONDS [MBIT_PER_S]

Listens on 127.0.0.1:LISTEN_PORT, forwards to 127.0.0.1:TARGET_PORT. Order is kept. With
MBIT_PER_S (0 or absent: unlimited) each direction of each connection is paced to that
bandwidth, as a player's line would be; a direction reads no further ahead than a few
chunks, so a fast server waits for the line instead of filling the proxy's memory. When
one side goes away (a client killed mid-download), both
connections are dropped at once, as a real link would: the proxy does not go on reading
the rest of a large answer into its queue, which would take the event loop away from the
next client. Ends by itself after MAX_SECONDS (at most one hour), so a
benchmark that dies never leaves it behind. Prints "ready" once it listens.
"""
import asyncio
import sys
import time

MAX_LIFETIME = 3600.0
CHUNK = 65536
QUEUED_CHUNKS = 256  # what one direction holds at most (16 MiB): room for the latency


async def pipe(reader, writer, delay, bytes_per_second, drop):
    queue = asyncio.Queue(QUEUED_CHUNKS)

    async def deliver():
        line_free = time.monotonic()  # when the paced line has sent what it was given
        while True:
            release, data = await queue.get()
            if data is None:
                break
            if bytes_per_second > 0:
                line_free = max(line_free, time.monotonic()) + len(data) / bytes_per_second
                release = max(release, line_free)
            wait = release - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            try:
                writer.write(data)
                await writer.drain()
            except (ConnectionError, OSError):
                drop()
                return
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            await queue.put((time.monotonic() + delay, data))
    except (ConnectionError, OSError):
        drop()
    await queue.put((0, None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


async def main():
    listen_port, target_port, rtt_ms, max_seconds = (int(a) for a in sys.argv[1:5])
    mbit = float(sys.argv[5]) if len(sys.argv) > 5 else 0.0
    bytes_per_second = mbit * 1e6 / 8
    delay = rtt_ms / 2000.0
    lifetime = min(float(max_seconds), MAX_LIFETIME)

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        def drop():
            for w in (client_writer, server_writer):
                w.transport.abort()

        await asyncio.gather(pipe(client_reader, server_writer, delay, bytes_per_second, drop),
                             pipe(server_reader, client_writer, delay, bytes_per_second, drop))
        for w in (client_writer, server_writer):
            w.close()

    server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        await asyncio.sleep(lifetime)


if __name__ == "__main__":
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    asyncio.run(main())
