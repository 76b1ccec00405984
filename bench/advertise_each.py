#!/usr/bin/python3
"""Advertises one mDNS service per --port, each from a responder of its own,
as separate devices on a network would: every responder answers a query
with one small packet of its own.

(A single responder holding many services answers with one packet of
answers and further packets holding only additional records; the browser
drops packets without answers, so most services then resolve only after
further queries, a second or more later.)

Refuses to run unless the network namespace holds nothing but lo. Prints
READY once every service is registered and its announcements are a second
old; serves until its standard input ends or --lifetime runs out.
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
    loop = asyncio.get_running_loop()
    closed = asyncio.Event()

    def reader():  # a daemon thread: a stdin that never closes cannot hold up the exit
        while os.read(0, 65536):
            pass
        loop.call_soon_threadsafe(closed.set)

    threading.Thread(target=reader, daemon=True).start()
    await closed.wait()


async def serve(args):
    responders = []
    try:
        infos = []
        for index, port in enumerate(args.port):
            responders.append(AsyncZeroconf(interfaces=["127.0.0.1"], ip_version=IPVersion.V4Only))
            infos.append(AsyncServiceInfo(SERVICE_TYPE, f"{args.name}-{index}.{SERVICE_TYPE}", port=port,
                                          addresses=[socket.inet_aton("127.0.0.1")],
                                          server=f"{args.name}-host-{index}.local."))
        # Probing takes about a second; all responders probe at once.
        registrations = await asyncio.gather(*(zc.async_register_service(info)
                                               for zc, info in zip(responders, infos)))
        await asyncio.gather(*registrations)
        # The announcements just sent hold back answers to the same records
        # for a second; a browser starting now would measure that wait.
        await asyncio.sleep(1.2)
        print("READY", flush=True)
        try:
            await asyncio.wait_for(stdin_closed(), args.lifetime)
        except asyncio.TimeoutError:
            print("advertise_each.py: lifetime over", file=sys.stderr, flush=True)
        await asyncio.gather(*(zc.async_unregister_all_services() for zc in responders))
    finally:
        await asyncio.gather(*(zc.async_close() for zc in responders))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, action="append", required=True, help="one service per --port")
    parser.add_argument("--name", default="qx-bench")
    parser.add_argument("--lifetime", type=float, default=600.0,
                        help="seconds after which it ends even if stdin stays open")
    args = parser.parse_args()
    names = [name for _, name in socket.if_nameindex()]
    if names != ["lo"]:
        sys.exit(f"advertise_each.py: refusing to send multicast: interfaces {names} besides lo")
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
