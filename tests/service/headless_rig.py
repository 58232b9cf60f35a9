"""What the end-to-end scripts share: varnel-headless started in a folder of its own with a pty
as its device (or, under Wine, the prefix's COM5 linked to the pty), and the waits and checks.

A script is called as  SCRIPT VARNEL_HEADLESS  or  SCRIPT --wine WINE_RUN WINEPREFIX EXE."""
import os
import pty
import select
import socket
import subprocess
import sys
import time
import tty

WINE = len(sys.argv) > 1 and sys.argv[1] == "--wine"
COMMAND = sys.argv[2:3] + sys.argv[4:5] if WINE else sys.argv[1:2]
PREFIX = sys.argv[3] if WINE else None
ALL = bytes(range(256)) * 4
failures = []


def check(what, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + what + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failures.append(what)
    return ok


def finish():
    sys.exit(1 if failures else 0)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def device():
    """A pty in raw mode: its master (the script's end) and the path of its other end."""
    master, slave = pty.openpty()
    tty.setraw(master)
    return master, os.ttyname(slave)


def read_master(master, count, within=5.0):
    got = b""
    end = time.time() + within
    while len(got) < count and time.time() < end:
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            got += os.read(master, 65536)
    return got


def until(condition, within=5.0):
    end = time.time() + within
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.01)
    return condition()


def wait_listening(port, within=30.0):
    """Until something accepts at the port (a program under Wine takes a while to start)."""
    def accepts():
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False
    return until(accepts, within)


class Program:
    """varnel-headless in folder: its settings are the [COM] section for the pty (and com_lines),
    then socket_lines under [Socket], then the [SYSTEM] lines and any further sections (extra)."""

    def __init__(self, folder, device_path, socket_lines, fast, system_lines="REOPEN=0\r\n",
                 extra="", com_lines=""):
        if WINE:  # the prefix's COM5 is the pty
            link = os.path.join(PREFIX, "dosdevices", "com5")
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(device_path, link)
            com, ports = 4, ""
        else:
            com, ports = 2, "[Ports]\r\nCOM3=" + device_path + "\r\n"
        with open(os.path.join(folder, "VarnelConfig.ini"), "w", newline="") as ini:
            ini.write("[COM]\r\nCOM=%d\r\nBaudRate=5\r\n" % com + com_lines + "[Socket]\r\n" +
                      socket_lines +
                      "[SYSTEM]\r\n" + system_lines + "FAST=" + ("1" if fast else "0") +
                      "\r\n" + ports + extra)
        self.folder = folder
        self.err = open(os.path.join(folder, "stderr.txt"), "w+")
        self.process = subprocess.Popen(COMMAND, cwd=folder, stderr=self.err,
                                        stdout=self.err)

    def output(self):
        self.err.flush()
        with open(self.err.name) as f:
            return f.read()

    def ended(self, within):
        try:
            return self.process.wait(within)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        code = self.process.wait(10)
        return code, self.output()
