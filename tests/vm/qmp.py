#!/usr/bin/env python3
"""Pulls one of the virtual machine's USB serial adapters out, or plugs one in,
through QEMU's monitor protocol (QMP).

    qmp.py SOCKET unplug ID                  device_del of ID; waits until the guest let it go
    qmp.py SOCKET plug ID CHARDEV SERIAL PORT
                                             device_add of a usb-serial ID on the chardev,
                                             with that USB serial number (empty: none),
                                             into that port of the xHCI controller

Exit status 0 when QEMU did it, 1 with the reason otherwise.
"""
import json
import socket
import sys
import time

TIMEOUT = 15.0


class Monitor:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(TIMEOUT)
        self.sock.connect(path)
        self.buffer = b""
        self.events = []
        self.receive()  # the greeting
        self.execute("qmp_capabilities")

    def receive(self):
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("QEMU closed the monitor")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def execute(self, command, **arguments):
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self.sock.sendall(json.dumps(request).encode() + b"\n")
        while True:
            reply = self.receive()
            if "event" in reply:
                self.events.append(reply)
            elif "error" in reply:
                raise RuntimeError(f"{command}: {reply['error'].get('desc', reply['error'])}")
            elif "return" in reply:
                return reply["return"]

    def wait_event(self, name, device):
        deadline = time.monotonic() + TIMEOUT
        while True:
            for e in self.events:
                if e["event"] == name and e.get("data", {}).get("device") == device:
                    return
            if time.monotonic() > deadline:
                raise RuntimeError(f"no {name} for {device} within {TIMEOUT:.0f} s")
            self.events.append(self.receive())


def main():
    args = sys.argv[2:]
    known = {"unplug": 2, "plug": 5}  # the words of each command
    if not args or known.get(args[0]) != len(args):
        print(__doc__, file=sys.stderr)
        return 2
    try:
        monitor = Monitor(sys.argv[1])
        if args[0] == "unplug":
            monitor.execute("device_del", id=args[1])
            # A device of the same id can be added only once this one is gone.
            monitor.wait_event("DEVICE_DELETED", args[1])
        else:
            monitor.execute("device_add", driver="usb-serial", id=args[1], chardev=args[2],
                            serial=args[3], bus="xhci.0", port=args[4])
    except (OSError, RuntimeError, ValueError) as e:
        print(f"qmp {' '.join(args)}: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
