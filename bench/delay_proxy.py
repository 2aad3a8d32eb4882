#!/usr/bin/env python3
"""A TCP proxy that delays every chunk by a fixed time in each direction, standing in for
network latency where the kernel has no netem. Listens on 127.0.0.1:LISTEN and forwards to
127.0.0.1:TARGET. Stops by itself after --lifetime seconds.

  delay_proxy.py LISTEN TARGET [--delay-ms 0.5] [--lifetime 600]
"""
import argparse
import asyncio


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            due = loop.time() + delay
            await asyncio.sleep(max(0.0, due - loop.time()))
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("listen", type=int)
    parser.add_argument("target", type=int)
    parser.add_argument("--delay-ms", type=float, default=0.5)
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    delay = args.delay_ms / 1000.0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", args.target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(handle, "127.0.0.1", args.listen)
    async with server:
        await asyncio.sleep(args.lifetime)


if __name__ == "__main__":
    asyncio.run(main())
