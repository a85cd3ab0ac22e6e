#!/usr/bin/python3
"""pymodbus and raw pyserial talk to meterlink-sim over its pseudo-terminal: display
registers, the logger state block, keys by function 16, a log block by function 96,
and the line pacing at a set baud rate. Usage: sim_pymodbus.py METERLINK_SIM"""
import os
import select
import signal
import struct
import subprocess
import sys
import tempfile
import time

try:
    import serial
    from pymodbus.client import ModbusSerialClient
except ImportError as missing:
    print("skipped:", missing)
    sys.exit(77)


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


class Sim:
    def __init__(self, program, workdir, name, *args):
        self.link = os.path.join(workdir, name)
        self.proc = subprocess.Popen([program, "--link", self.link, *args],
                                     stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 20)
        line = self.proc.stdout.readline() if ready else ""
        expect = "linked at " + self.link
        if not line.startswith("meterlink-sim ready: /dev/pts/") or not line.rstrip().endswith(expect):
            self.proc.kill()
            raise SystemExit("no ready line: %r" % line)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=10)
        check(status == 0, "meterlink-sim exited with %d" % status)
        check(not os.path.lexists(self.link), "link left behind")


failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def registers_text(registers):
    return b"".join(struct.pack(">H", r) for r in registers)


def slave_kw(function, *args):
    try:
        return function(*args, slave=1)
    except TypeError:
        return function(*args, unit=1)


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        scenario = os.path.join(work, "plain.scn")
        with open(scenario, "w") as f:
            f.write("display-mode plain\n")
        exported = os.path.join(work, "records.txt")
        sim = Sim(program, work, "com1", "--scenario", scenario, "--records", "37",
                  "--export-records", exported)
        try:
            client = ModbusSerialClient(port=sim.link, baudrate=38400, parity="N",
                                        stopbits=1, bytesize=8, timeout=2)
            check(client.connect(), "pymodbus could not open the link")
            display = slave_kw(client.read_holding_registers, 24, 40)
            check(not display.isError(), "display read failed")
            text = registers_text(display.registers)
            check(text[:20] == b"SIMULATED METER     ", "line 1: %r" % text[:20])

            state = slave_kw(client.read_holding_registers, 76, 8)
            check(not state.isError(), "state read failed")
            block = registers_text(state.registers)
            start = block[0] * 16384 + block[2] * 256 + block[3]
            last = block[4] * 16384 + block[6] * 256 + block[7]
            check(last + 8 - start == 8 * 37, "T = %d" % (last + 8 - start))
            check(struct.unpack(">f", block[8:12])[0] == 37.0, "records used")

            for key in b"12E":
                answer = slave_kw(client.write_registers, 209, [key * 256 + 255])
                check(not answer.isError(), "key write failed")
            line4 = registers_text(slave_kw(client.read_holding_registers, 54, 10).registers)
            check(line4 == b"Keys: 12E           ", "line 4: %r" % line4)
            client.close()

            # Function 96 is the meter's own: raw bytes over pyserial.
            with serial.Serial(sim.link, 38400, timeout=2) as port:
                request = bytes([1, 0x60, 8, 0x80, 0, 0, 4])
                port.write(request + crc16(request))
                answer = port.read(7 + 8 + 2)
                check(len(answer) == 17 and crc16(answer[:-2]) == answer[-2:],
                      "log block answer %s" % answer.hex())
                record = answer[7:15]
                with open(exported) as f:
                    first = f.readline().strip()
                channel = record[0] >> 4
                stamp = "2001-%02x-%02x %02x:%02x" % (record[0] & 15, record[1], record[2],
                                                      record[3])
                value = "%.7g" % struct.unpack(">f", record[4:8])[0]
                check(first == "%d,%s,%s" % (channel, stamp, value),
                      "record %s against export %s" % (record.hex(), first))
        finally:
            sim.stop()

        # At 2400 baud an answer of 255 bytes needs at least 1.06 s on the wire.
        paced = Sim(program, work, "com2", "--baud", "2400")
        try:
            with serial.Serial(paced.link, 2400, timeout=5) as port:
                request = bytes([1, 3, 0, 0, 0, 125])
                began = time.monotonic()
                port.write(request + crc16(request))
                answer = port.read(255)
                took = time.monotonic() - began
                check(len(answer) == 255, "paced answer has %d bytes" % len(answer))
                check(took >= 255 * 10 / 2400 * 0.95, "paced answer took only %.3f s" % took)
        finally:
            paced.stop()

    if failures:
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
