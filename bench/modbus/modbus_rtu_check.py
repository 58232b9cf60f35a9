#!/usr/bin/python3
"""A Modbus RTU master with a 100 ms response time-out talks through a bridge to a slave.

The slave sits on the device's end of a pty pair and answers each request 5 ms after it came,
in one write. The master (Debian's pymodbus, a serial RTU master on a pty of its own) sits on the
server's side: the bridge connects to this script's server, which relays between the connection
and the master's pty. For a
while the master reads ten holding registers at a moving address and checks the values.

Prints, in the bench rig's form:
    result contender=NAME run=N figure=modbus_ok value=...          transactions answered right
    result contender=NAME run=N figure=modbus_ok_pct value=...
    result contender=NAME run=N figure=modbus_one_block_pct value=...   (Varnel: replies that
                                                                       were one block in its log)
Usage: modbus_rtu_check.py --contender NAME --cmd "COMMAND" [--fast] [--seconds S] [--run N]
{pty}, {port} and {dir} in COMMAND are the device, the server's port and the working folder; a
contender whose name starts with "Varnel" gets a settings file and its Open button pressed
("Varnel-headless" opens the link itself).
"""
import argparse
import glob
import logging
import os
import pty
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty

from pymodbus.client import ModbusSerialClient
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.utilities import computeCRC

SLAVE_ID = 17
COUNT = 10


def log(text):
    print("modbus: " + text, file=sys.stderr, flush=True)


def register(address):
    return (address * 31 + 7) & 0xFFFF


def slave(master_fd, stop):
    """Answers "read holding registers" requests; each reply goes out in one write."""
    pending = b""
    while not stop.is_set():
        ready, _, _ = select.select([master_fd], [], [], 0.05)
        if not ready:
            continue
        try:
            pending += os.read(master_fd, 256)
        except OSError:
            return
        while len(pending) >= 8:
            frame, pending = pending[:8], pending[8:]
            if frame[0] != SLAVE_ID or frame[1] != 3 or computeCRC(frame[:6]) != int.from_bytes(frame[6:8], "big"):
                pending = b""  # out of step: start again with the next request
                break
            address = int.from_bytes(frame[2:4], "big")
            count = int.from_bytes(frame[4:6], "big")
            body = bytes([SLAVE_ID, 3, 2 * count]) + b"".join(
                register(address + i).to_bytes(2, "big") for i in range(count))
            time.sleep(0.005)  # the device's own time to answer
            os.write(master_fd, body + computeCRC(body).to_bytes(2, "big"))


def relay(fd, conn, stop):
    """Copies between the master's pty and the bridge's connection, both ways, as bytes come."""
    while not stop.is_set():
        ready, _, _ = select.select([fd, conn], [], [], 0.05)
        try:
            if fd in ready:
                conn.sendall(os.read(fd, 65536))
            if conn in ready:
                data = conn.recv(65536)
                if not data:
                    return
                os.write(fd, data)
        except OSError:
            return


def write_settings(folder, device, port, fast):
    with open(os.path.join(folder, "VarnelConfig.ini"), "w", newline="") as f:
        f.write("[Ports]\r\nCOM3=%s\r\n[SYSTEM]\r\nREOPEN=0\r\nHEX=1\r\nFAST=%d\r\n"
                "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=%d\r\n[COM]\r\nCOM=2\r\nBaudRate=5\r\n"
                % (device, 1 if fast else 0, port))


def press_open(bridge_listener):
    out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Varnel$"],
                         capture_output=True, text=True, timeout=30).stdout.split()
    if not out:
        return None
    time.sleep(0.3)
    bridge_listener.settimeout(4)
    for attempt in range(6):
        subprocess.run(["xdotool", "windowfocus", "--sync", out[0]], capture_output=True, timeout=3)
        keys = ["xdotool", "key", "--window", out[0], "Return"] if attempt % 2 == 0 else ["xdotool", "key", "Return"]
        subprocess.run(keys, capture_output=True, timeout=3)
        try:
            return bridge_listener.accept()[0]
        except socket.timeout:
            continue
    return None


def one_block_share(folder, transactions):
    """Replies of the slave that the log shows as one block each, as a share of transactions."""
    whole = 0
    for name in glob.glob(os.path.join(folder, "*.log")):
        with open(name, "rb") as f:
            text = f.read()
        whole += text.count(b"Receive %d bytes data from SPP(COM)" % (5 + 2 * COUNT))
    return 100.0 * whole / transactions if transactions else 0.0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--contender", default="socat")
    ap.add_argument("--cmd", default="socat {pty},raw,echo=0 TCP:127.0.0.1:{port}")
    ap.add_argument("--fast", action="store_true")
    ap.add_argument("--seconds", type=float, default=20)
    ap.add_argument("--run", type=int, default=1)
    ap.add_argument("--keep", action="store_true")
    o = ap.parse_args()
    varnel = o.contender.lower().startswith("varnel")

    def emit(figure, value):
        print("result contender=%s run=%d figure=%s value=%.10g" % (o.contender, o.run, figure, value),
              flush=True)

    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    folder = tempfile.mkdtemp(prefix="varnel-modbus-")
    stop = threading.Event()
    bus_fd, bus_slave_fd = pty.openpty()
    tty.setraw(bus_slave_fd)
    bus_path = os.ttyname(bus_slave_fd)
    master_fd, slave_fd = pty.openpty()
    tty.setraw(slave_fd)
    device = os.ttyname(slave_fd)
    bridge_listener = socket.create_server(("127.0.0.1", 0))
    port = bridge_listener.getsockname()[1]
    command = o.cmd.replace("{pty}", device).replace("{port}", str(port)).replace("{dir}", folder)
    proc = None
    try:
        if varnel:
            write_settings(folder, device, port, o.fast)
        os.close(slave_fd)  # the contender opens the device itself
        slave_fd = -1
        proc = subprocess.Popen(command, shell=True, cwd=folder, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
        if varnel and not o.contender.lower().startswith("varnel-headless"):
            bridge = press_open(bridge_listener)
        else:
            bridge_listener.settimeout(15)
            bridge = bridge_listener.accept()[0]
        if bridge is None:
            log("%s did not connect" % o.contender)
            emit("failed", 1)
            return
        time.sleep(1)  # the serial side opens after the connection
        threading.Thread(target=slave, args=(master_fd, stop), daemon=True).start()
        threading.Thread(target=relay, args=(bus_fd, bridge, stop), daemon=True).start()
        client = ModbusSerialClient(bus_path, framer=ModbusRtuFramer, baudrate=115200,
                                    retries=0, strict=False)
        # This pymodbus takes the time-out given to its constructor as whole seconds: set the
        # 100 ms before the port opens.
        client.params.timeout = 0.1
        if not client.connect():
            log("the master could not open " + bus_path)
            emit("failed", 1)
            return

        ok = tried = 0
        end = time.monotonic() + o.seconds
        while time.monotonic() < end:
            address = (tried * 13) % 4000
            tried += 1
            try:
                rr = client.read_holding_registers(address, COUNT, slave=SLAVE_ID)
                if not rr.isError() and rr.registers == [register(address + i) for i in range(COUNT)]:
                    ok += 1
            except Exception:  # a time-out or a garbled frame: not answered right
                pass
            time.sleep(0.02)  # the master's poll cycle
        client.close()
        log("%s: %d of %d transactions answered right" % (o.contender, ok, tried))
        emit("modbus_ok", ok)
        emit("modbus_tried", tried)
        emit("modbus_ok_pct", 100.0 * ok / tried if tried else 0)
        if varnel:
            time.sleep(0.3)
            emit("modbus_one_block_pct", one_block_share(folder, tried))
    finally:
        stop.set()
        if proc is not None and proc.poll() is None:
            os.killpg(proc.pid, 15)
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, 9)
        os.close(master_fd)
        os.close(bus_fd)
        os.close(bus_slave_fd)
        if slave_fd >= 0:
            os.close(slave_fd)
        if o.keep:
            log("kept " + folder)
        else:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
