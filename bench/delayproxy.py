#!/usr/bin/python3
"""A TCP proxy on 127.0.0.1 that holds back every chunk, each way, by the same delay,
as a server that far away would (this machine's kernel has no netem). What goes
through is passed on untouched (TLS included), in order; only late.

  delayproxy.py <target port> <delay ms>

It prints "port <n>" once it listens."""

import asyncio
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            if due > loop.time():
                await asyncio.sleep(due - loop.time())
            if not data:
                break
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()

    sender = asyncio.create_task(send())
    try:
        while True:
            data = await reader.read(1 << 16)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
    except OSError:
        queue.put_nowait((loop.time() + delay, b""))
    try:
        await sender
    except OSError:
        pass


async def main():
    target, delay = int(sys.argv[1]), float(sys.argv[2]) / 1000.0

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay))
        client_writer.close()
        server_writer.close()

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    print("port %d" % server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
