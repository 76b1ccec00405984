#!/usr/bin/python3
"""Advertises fake devices by mDNS on loopback, one service per --port.

It sends multicast, so it refuses to run unless its network namespace holds
nothing but lo. Prints READY once every service is registered and announced,
then serves until its standard input ends or --lifetime runs out.
"""

import argparse
import asyncio
import os
import socket
import sys
import threading

from zeroconf import IPVersion
from zeroconf.asyncio import AsyncServiceInfo, AsyncZeroconf

SERVICE_TYPE = "_br-command-api._tcp.local."


async def stdin_closed():
    # A daemon thread, so a stdin that never closes cannot hold up the exit.
    loop = asyncio.get_running_loop()
    closed = asyncio.Event()

    def reader():
        # The raw descriptor: a buffered reader's lock would stall the exit.
        while os.read(0, 65536):
            pass
        loop.call_soon_threadsafe(closed.set)

    threading.Thread(target=reader, daemon=True).start()
    await closed.wait()


async def serve(ports, lifetime, name_prefix):
    zc = AsyncZeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only)
    try:
        infos = [
            AsyncServiceInfo(SERVICE_TYPE, f"{name_prefix}-{index}.{SERVICE_TYPE}", port=port,
                             addresses=[socket.inet_aton("127.0.0.1")], server=f"{name_prefix}-{index}.local.")
            for index, port in enumerate(ports)
        ]
        # Probing takes about a second; all services probe at once.
        registrations = await asyncio.gather(*(zc.async_register_service(info) for info in infos))
        await asyncio.gather(*registrations)
        # The announcements just sent hold back answers to the same records
        # for a second; a browser starting now would wait that out.
        await asyncio.sleep(1.0)
        print("READY", flush=True)
        try:
            await asyncio.wait_for(stdin_closed(), lifetime)
        except asyncio.TimeoutError:
            print("advertise.py: lifetime over", file=sys.stderr, flush=True)
        await zc.async_unregister_all_services()
    finally:
        await zc.async_close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, action="append", required=True)
    parser.add_argument("--lifetime", type=float, default=900.0,
                        help="seconds after which it ends even if stdin stays open")
    parser.add_argument("--name-prefix", default="qx-bench",
                        help="service and host names; two advertisers in one namespace need different ones")
    args = parser.parse_args()
    names = [name for _, name in socket.if_nameindex()]
    if names != ["lo"]:
        sys.exit(f"advertise.py: refusing to send multicast: interfaces {names} besides lo")
    asyncio.run(serve(args.port, args.lifetime, args.name_prefix))


if __name__ == "__main__":
    main()
