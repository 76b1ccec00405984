#!/usr/bin/python3
"""Advertises test services by mDNS on loopback, for the discovery tests.

It sends multicast, so it refuses to run unless its network namespace holds
nothing but lo (scripts/in_netns.sh makes such a namespace). Prints READY
once every service is registered. Each line "reregister" on stdin withdraws
every service, waits until browsers have seen it leave, registers it anew
and prints READY again. End of stdin,
or the end of its lifetime, withdraws the services and ends it.
"""

import argparse
import asyncio
import socket
import sys
import threading

from zeroconf import IPVersion
from zeroconf.asyncio import AsyncServiceInfo, AsyncZeroconf


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--type", default="_br-command-api._tcp.local.")
    parser.add_argument("--name", default="qx-test", help="instance name prefix")
    parser.add_argument("--port", type=int, action="append", required=True,
                        help="one service per --port")
    parser.add_argument("--ipv6", action="store_true",
                        help="give each service's host ::1 besides 127.0.0.1")
    parser.add_argument("--lifetime", type=float, default=60.0,
                        help="seconds after which it ends even if stdin stays open")
    return parser.parse_args()


def refuse_outside_private_namespace():
    names = [name for _, name in socket.if_nameindex()]
    if names != ["lo"]:
        sys.exit(f"advertise.py: refusing to send multicast: interfaces {names} besides lo")


def read_commands(loop, commands):
    # A daemon thread, so a stdin that never closes cannot hold up the exit.
    def reader():
        for line in sys.stdin:
            loop.call_soon_threadsafe(commands.put_nowait, line.strip())
        loop.call_soon_threadsafe(commands.put_nowait, None)

    threading.Thread(target=reader, daemon=True).start()


async def register_all(zc, infos):
    # Registration probes for about a second; all services probe at once.
    tasks = await asyncio.gather(*(zc.async_register_service(info) for info in infos))
    await asyncio.gather(*tasks)
    # The announcements just sent hold back answers to the same records for
    # a second (the responder's rate limit); a browser that starts now would
    # measure that wait rather than its own.
    await asyncio.sleep(1.0)
    print("READY", flush=True)


async def serve(zc, infos, lifetime):
    commands = asyncio.Queue()
    read_commands(asyncio.get_running_loop(), commands)
    deadline = asyncio.get_running_loop().time() + lifetime
    await register_all(zc, infos)
    while True:
        remaining = deadline - asyncio.get_running_loop().time()
        try:
            command = await asyncio.wait_for(commands.get(), max(remaining, 0))
        except asyncio.TimeoutError:
            print("advertise.py: lifetime over", file=sys.stderr, flush=True)
            return
        if command is None:
            return
        if command == "reregister":
            await zc.async_unregister_all_services()
            # Browsers keep a withdrawn record for a second; only after that
            # do they see the instance leave.
            await asyncio.sleep(2.0)
            await register_all(zc, infos)


async def main(args):
    refuse_outside_private_namespace()
    addresses = [socket.inet_pton(socket.AF_INET, "127.0.0.1")]
    if args.ipv6:
        # Still announced over IPv4 multicast: IPv6 multicast does not loop
        # back on lo.
        addresses.append(socket.inet_pton(socket.AF_INET6, "::1"))
    infos = [
        AsyncServiceInfo(
            args.type,
            f"{args.name}-{index}.{args.type}",
            port=port,
            addresses=addresses,
            server=f"{args.name}-host-{index}.local.",
        )
        for index, port in enumerate(args.port)
    ]
    zc = AsyncZeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    try:
        await serve(zc, infos, args.lifetime)
        await zc.async_unregister_all_services()
    finally:
        await zc.async_close()


if __name__ == "__main__":
    asyncio.run(main(parse_args()))
