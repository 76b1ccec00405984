#!/usr/bin/python3
"""Advertises services by mDNS on loopback, one per --port, for the tests,
the demo and the benchmark.

It sends multicast, so it refuses to run unless its network namespace holds
nothing but lo (scripts/in_netns.sh makes such a namespace). Prints READY
once every service is registered and its announcements are a second old.
Each line "reregister" on stdin withdraws every service, waits until
browsers have seen it leave, registers it anew and prints READY again. End
of stdin, or the end of --lifetime, withdraws the services and ends it.

One responder holds every service, unless --each gives every service a
responder of its own, as separate devices on a network have: each then
answers a query with one small packet of its own. (A single responder
holding many services answers with one packet of answers and further packets
holding only additional records; the browser drops packets without answers,
so most services then resolve only after further queries, a second or more
later.)
"""

import argparse
import asyncio
import os
import socket
import sys
import threading

from zeroconf import IPVersion
from zeroconf.asyncio import AsyncServiceInfo, AsyncZeroconf


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("--type", default="_br-command-api._tcp.local.")
    parser.add_argument("--name", default="qx-test",
                        help="instance and host name prefix; two advertisers in one namespace need different ones")
    parser.add_argument("--port", type=int, action="append", required=True,
                        help="one service per --port; ports may repeat")
    parser.add_argument("--ipv6", action="store_true",
                        help="give each service's host ::1 besides 127.0.0.1")
    parser.add_argument("--each", action="store_true", help="one responder per service")
    parser.add_argument("--lifetime", type=float, default=60.0,
                        help="seconds after which it ends even if stdin stays open")
    return parser.parse_args()


def refuse_outside_private_namespace():
    names = [name for _, name in socket.if_nameindex()]
    if names != ["lo"]:
        sys.exit(f"advertise.py: refusing to send multicast: interfaces {names} besides lo")


def read_commands(loop, commands):
    """Puts each stdin line on `commands`, then None at its end."""

    def put(command):
        try:
            loop.call_soon_threadsafe(commands.put_nowait, command)
        except RuntimeError:
            pass  # the loop is gone: nobody is waiting any more

    # A daemon thread, so a stdin that never closes cannot hold up the exit;
    # on the raw descriptor, as a buffered reader's lock would stall it too.
    def reader():
        pending = b""
        while chunk := os.read(0, 65536):
            *lines, pending = (pending + chunk).split(b"\n")
            for line in lines:
                put(line.decode().strip())
        put(None)

    threading.Thread(target=reader, daemon=True).start()


async def register_all(placed):
    # Registration probes for about a second; all services probe at once.
    tasks = await asyncio.gather(*(zc.async_register_service(info) for zc, info in placed))
    await asyncio.gather(*tasks)
    # The announcements just sent hold back answers to the same records for
    # a second (the responder's rate limit); a browser that starts now would
    # measure that wait rather than its own.
    await asyncio.sleep(1.2)
    print("READY", flush=True)


async def unregister_all(responders):
    await asyncio.gather(*(zc.async_unregister_all_services() for zc in responders))


async def serve(placed, responders, lifetime):
    loop = asyncio.get_running_loop()
    commands = asyncio.Queue()
    read_commands(loop, commands)
    deadline = loop.time() + lifetime
    await register_all(placed)
    while True:
        try:
            command = await asyncio.wait_for(commands.get(), max(deadline - loop.time(), 0))
        except asyncio.TimeoutError:
            print("advertise.py: lifetime over", file=sys.stderr, flush=True)
            return
        if command is None:
            return
        if command == "reregister":
            await unregister_all(responders)
            # Browsers keep a withdrawn record for a second; only after that
            # do they see the instance leave.
            await asyncio.sleep(2.0)
            await register_all(placed)


async def main(args):
    refuse_outside_private_namespace()
    addresses = [socket.inet_pton(socket.AF_INET, "127.0.0.1")]
    if args.ipv6:
        # Still announced over IPv4 multicast: IPv6 multicast does not loop
        # back on lo.
        addresses.append(socket.inet_pton(socket.AF_INET6, "::1"))
    infos = [
        AsyncServiceInfo(args.type, f"{args.name}-{index}.{args.type}", port=port, addresses=addresses,
                         server=f"{args.name}-host-{index}.local.")
        for index, port in enumerate(args.port)
    ]
    responders = [AsyncZeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
                  for _ in range(len(infos) if args.each else 1)]
    placed = [(responders[index if args.each else 0], info) for index, info in enumerate(infos)]
    try:
        await serve(placed, responders, args.lifetime)
        await unregister_all(responders)
    finally:
        await asyncio.gather(*(zc.async_close() for zc in responders))


if __name__ == "__main__":
    asyncio.run(main(parse_args()))
