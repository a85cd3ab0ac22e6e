#!/usr/bin/python3
"""Faults end to end: meterlink-cli downloads from meterlink-sim on a pseudo-terminal while
the meter misbehaves, goes away or the programs are stopped. Every case must end with the
right exit code and status text within the time the link's limits allow, say why it failed,
and leave the CSV file either complete and correct or exactly as it was.

usage: fault_suite.py --cli PATH --sim PATH [--jobs N] [--only NAME ...]
"""
import argparse
import concurrent.futures
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# What the link allows: a function-3 read gives up a little over 3 s after it started, a
# function-96 read a little over 4 s; both count in whole seconds of the time of day.
READ_LIMIT = 4.0
BLOCK_LIMIT = 5.0
# Starting the programs, and the sanitizer build's slower start.
STARTUP = 6.0
# Whatever a failed download does: the state read, eight channel reads, three block attempts.
ALL_SILENT = READ_LIMIT + 8 * BLOCK_LIMIT + 3 * BLOCK_LIMIT + STARTUP

OLD_CSV = b"previous download\r\nkept,byte,for,byte\r\n"
SMALL_LOG = 200    # two blocks, answered at once
LARGE_LOG = 3000   # 24 blocks, paced at the line rate: long enough to interrupt
LARGE_BAUD = 38400

ENV = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8", LANG="C.UTF-8")


class CaseFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CaseFailed(what)


def expect_no_sanitizer_report(program, stderr):
    for mark in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
        expect(mark not in stderr, "%s: sanitizer report:\n%s" % (program, stderr))


def read_ready_line(proc, timeout):
    """The simulator's ready line, or a failure once it exits or the time is up."""
    deadline = time.monotonic() + timeout
    line = b""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], max(0.0, deadline - time.monotonic()))
        if not ready:
            break
        chunk = os.read(proc.stdout.fileno(), 4096)
        if not chunk:
            break
        line += chunk
        if b"\n" in line:
            text = line.split(b"\n", 1)[0].decode(errors="replace")
            expect(text.startswith("meterlink-sim ready:"), "unexpected first line: " + text)
            return text
    raise CaseFailed("meterlink-sim did not say it was ready within %.0f s" % timeout)


def wait_until(predicate, timeout, what):
    """A bounded poll for something another process writes."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.02)
    raise CaseFailed("%s did not happen within %.0f s" % (what, timeout))


def block_requests(trace_path):
    """How many log-block requests (function 96 outside the channel bank) went out."""
    try:
        with open(trace_path, "rb") as trace:
            text = trace.read().decode(errors="replace")
    except FileNotFoundError:
        return 0
    return len(re.findall(r" TX (?:\(resend\) )?01 60 (?!18 )", text))


class World:
    """One case's directory, simulator and download."""

    def __init__(self, suite, name):
        self.suite = suite
        self.dir = tempfile.mkdtemp(prefix="faults-%s-" % re.sub(r"\W", "_", name))
        self.link = os.path.join(self.dir, "com1")
        self.csv = os.path.join(self.dir, "Logdata.csv")
        self.trace = os.path.join(self.dir, "trace.txt")
        self.records = os.path.join(self.dir, "records.txt")
        self.locks = os.path.join(self.dir, "locks")
        os.mkdir(self.locks)
        self.sim = None
        self.cli = None
        with open(self.csv, "wb") as f:
            f.write(OLD_CSV)

    def start_sim(self, faults=(), records=SMALL_LOG, baud=None):
        args = [self.suite.sim, "--link", self.link, "--records", str(records), "--seed", "7",
                "--export-records", self.records]
        if baud:
            args += ["--baud", str(baud)]
        for fault in faults:
            args += ["--fault", fault]
        self.sim = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=ENV, cwd=self.dir)
        read_ready_line(self.sim, STARTUP * 2)

    def start_cli(self, baud=None, device=None):
        args = [self.suite.cli, "download", "--device", device or self.link, "--out", self.csv,
                "--trace", self.trace]
        if baud:
            args += ["--baud", str(baud)]
        self.started = time.monotonic()
        # Locks of its own: a pseudo-terminal's number comes back at once for another case
        # (or another run of this suite), while a download that lost its meter still holds
        # the number's lock through the ride-out.
        self.cli = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=dict(ENV, METERLINK_LOCK_DIR=self.locks), cwd=self.dir)

    def finish_cli(self, limit):
        """Waits for the download; a download still running at the limit is a hang."""
        try:
            out, err = self.cli.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            self.cli.kill()
            self.cli.communicate()
            raise CaseFailed("meterlink-cli still running after %.0f s" % limit)
        self.elapsed = time.monotonic() - self.started
        self.out = out.decode(errors="replace")
        self.err = err.decode(errors="replace")
        return self.cli.returncode

    def download(self, limit, **how):
        self.start_cli(**how)
        return self.finish_cli(limit)

    def stop_sim(self, sig=signal.SIGTERM):
        self.sim_err = ""
        if self.sim and self.sim.poll() is None:
            self.sim.send_signal(sig)
            try:
                self.sim_err = self.sim.communicate(timeout=5)[1].decode(errors="replace")
            except subprocess.TimeoutExpired:
                self.sim.kill()
                self.sim.communicate()
                raise CaseFailed("meterlink-sim ignored %s for 5 s" % signal.Signals(sig).name)

    def check_sim(self):
        """The simulator, whatever it went through, stops cleanly when asked."""
        if self.sim and self.sim.poll() is None:
            self.stop_sim(signal.SIGTERM)
            expect(self.sim.returncode == 0, "meterlink-sim exited with %d" % self.sim.returncode)
            expect_no_sanitizer_report("meterlink-sim", self.sim_err)

    def close(self):
        for proc in (self.cli, self.sim):
            if proc and proc.poll() is None:
                proc.kill()
                proc.communicate()
        shutil.rmtree(self.dir, ignore_errors=True)

    # What every case checks -----------------------------------------------------------

    def expect_exit(self, code, status_text):
        expect(self.cli.returncode >= 0,
               "meterlink-cli died of signal %d\n%s" % (-self.cli.returncode, self.err))
        expect(self.cli.returncode == code, "exit code %d, expected %d\nstdout: %s\nstderr: %s"
               % (self.cli.returncode, code, self.out, self.err))
        expect(status_text in self.out.splitlines(),
               "status %r not printed\nstdout: %s" % (status_text, self.out))
        expect_no_sanitizer_report("meterlink-cli", self.err)

    def expect_reason(self, *words):
        reasons = [l for l in self.err.splitlines() if l.startswith("meterlink-cli: ")]
        expect(reasons, "no reason on stderr: %r" % self.err)
        text = " ".join(reasons).lower()
        for word in words:
            expect(word.lower() in text, "reason lacks %r: %s" % (word, text))

    def expect_old_csv(self):
        with open(self.csv, "rb") as f:
            expect(f.read() == OLD_CSV, "the previous CSV file was changed")
        self.expect_no_leftovers()

    def expect_csv(self, reference):
        with open(self.csv, "rb") as f:
            data = f.read()
        expect(data == reference, "the CSV differs from a clean download's (%d vs %d bytes)"
               % (len(data), len(reference)))
        self.expect_no_leftovers()

    def expect_no_leftovers(self):
        known = {"com1", "Logdata.csv", "trace.txt", "records.txt", "locks"}
        extra = sorted(set(os.listdir(self.dir)) - known)
        expect(not extra, "files left behind: %s" % extra)

    def expect_within(self, limit):
        expect(self.elapsed <= limit, "took %.1f s, limit %.1f s" % (self.elapsed, limit))


def check_against_log(csv_bytes, records_path, channels=(1, 2, 3, 4)):
    """The file holds every reading the meter served of the channels whose configuration was
    read, each in that channel's column."""
    served = []
    with open(records_path) as f:
        for line in f:
            channel, moment, value = line.strip().split(",")
            served.append((int(channel), moment, float(value)))
    lines = csv_bytes.split(b"\r\n")
    expect(lines[-1] == b"", "the file does not end with CR LF")
    header = lines[0].decode("latin-1").split(",")
    expect(header[0] == "Date / Time", "header starts with %r" % header[0])
    expect(len(header) == len(channels) + 1, "header %r for channels %s" % (header, channels))
    rows = [l.decode("latin-1").split(",") for l in lines[1:-1]]
    # Readings of one moment share a row; a block of 128 records starts a new row.
    expected = []
    for index, (channel, moment, value) in enumerate(served):
        key = (moment, index // 128)
        if not expected or expected[-1][0] != key:
            expected.append((key, {}))
        expected[-1][1][channel] = value
    expect(len(rows) == len(expected), "%d rows, %d moments served" % (len(rows), len(expected)))
    for row, ((moment, _), readings) in zip(rows, expected):
        expect(len(row) == len(channels) + 1, "row %r has %d fields" % (row, len(row)))
        # Midnight shows the date alone.
        at_time = moment[-5:] in row[0] if moment[-5:] != "00:00" else ":" not in row[0]
        expect(at_time and str(int(moment[8:10])) in row[0], "row %r is not at %s" % (row, moment))
        for column, channel in enumerate(channels, start=1):
            field = row[column]
            if channel in readings:
                expect(field.startswith((" ", "-")) and
                       abs(float(field) - readings[channel]) <= 1e-6 * abs(readings[channel]),
                       "row %r channel %d: expected %s" % (row, channel, readings[channel]))
            else:
                expect(field == "", "row %r channel %d has no reading" % (row, channel))


class Suite:
    def __init__(self, cli, sim):
        self.cli = cli
        self.sim = sim
        self.small_csv = None
        self.large_csv = None

    def reference(self, records, baud):
        world = World(self, "reference-%d" % records)
        try:
            world.start_sim(records=records, baud=baud)
            code = world.download(30 + records / 100, baud=baud)
            world.expect_exit(code, "Finished. Data in File")
            with open(world.csv, "rb") as f:
                data = f.read()
            check_against_log(data, world.records)
            return data
        finally:
            world.close()

    # The cases -------------------------------------------------------------------------

    def case_clean(self, w):
        w.start_sim()
        w.expect_exit(w.download(STARTUP + 10), "Finished. Data in File")
        w.expect_csv(self.small_csv)
        w.expect_within(STARTUP + 10)

    def failing_meter(self, w, faults, *reason, limit=ALL_SILENT):
        w.start_sim(faults)
        w.expect_exit(w.download(limit + 30), "Error in Downloading!!")
        w.expect_reason(*reason)
        w.expect_old_csv()
        w.expect_within(limit)

    def recovering_meter(self, w, faults, limit):
        w.start_sim(faults)
        w.expect_exit(w.download(limit + 30), "Finished. Data in File")
        w.expect_csv(self.small_csv)
        w.expect_within(limit)

    def case_silent(self, w):
        self.failing_meter(w, ["silent"], "no answer")

    def case_ignore_3(self, w):
        # Every third request is lost: channel configurations and log blocks alike are read
        # again, so every channel reaches the file.
        self.recovering_meter(w, ["ignore:3"], ALL_SILENT)

    def case_ignore_10(self, w):
        # The first log block goes unanswered; its second attempt succeeds.
        self.recovering_meter(w, ["ignore:10"], STARTUP + BLOCK_LIMIT + 10)

    def case_badcrc(self, w):
        self.failing_meter(w, ["badcrc"], "crc", limit=STARTUP + 10)

    def case_badcrc_10(self, w):
        self.recovering_meter(w, ["badcrc:10"], STARTUP + 10)

    def case_exception(self, w):
        self.failing_meter(w, ["exception:2"], "refused", "illegal data address")

    def case_truncate(self, w):
        # The answer breaks off: that is what the reason says, not that none came.
        self.failing_meter(w, ["truncate:5"], "broke off after")

    def case_noise(self, w):
        # A stray byte before every answer shifts every frame: nothing passes its CRC.
        self.failing_meter(w, ["noise"], "", limit=ALL_SILENT)

    def case_delay_short(self, w):
        # Answers 0.2 s late are still inside the first wait.
        self.recovering_meter(w, ["delay:0.2"], STARTUP + 11 * 0.2 + 10)

    def case_delay_long(self, w):
        # Answers 6 s late come after every wait has given up.
        self.failing_meter(w, ["delay:6"], "no answer")

    def case_no_device(self, w):
        w.expect_exit(w.download(STARTUP + 5, device=os.path.join(w.dir, "com9")),
                      "Error in Downloading!!")
        w.expect_reason("com9")
        w.expect_old_csv()
        w.expect_within(STARTUP + 5)

    def interrupt_download(self, w, after_blocks=3):
        w.start_sim(records=LARGE_LOG, baud=LARGE_BAUD)
        w.start_cli(baud=LARGE_BAUD)
        wait_until(lambda: block_requests(w.trace) >= after_blocks or w.cli.poll() is not None,
                   STARTUP + 20, "%d log blocks" % after_blocks)
        if w.cli.poll() is not None:
            raise CaseFailed("the download ended before it could be interrupted (status %s): %s"
                             % (w.cli.returncode, w.cli.stderr.read().decode(errors="replace")[-600:]))
        return time.monotonic()

    def case_meter_unplugged(self, w):
        # The meter dies mid-download without a word, and its line goes as an unplugged
        # adapter's does: nothing comes back under its name within the ride-out.
        self.interrupt_download(w)
        w.sim.kill()
        w.sim.communicate()
        os.unlink(w.link)
        w.expect_exit(w.finish_cli(3 * BLOCK_LIMIT + 30), "Error in Downloading!!")
        w.expect_reason()
        w.expect_old_csv()
        w.expect_within(STARTUP + 20 + 3 * BLOCK_LIMIT)

    def case_meter_stopped(self, w):
        # SIGTERM: the simulator removes its link and closes the line.
        self.interrupt_download(w)
        w.stop_sim(signal.SIGTERM)
        expect(w.sim.returncode == 0, "meterlink-sim exited with %d" % w.sim.returncode)
        expect(not os.path.lexists(w.link), "meterlink-sim left its link behind")
        w.expect_exit(w.finish_cli(3 * BLOCK_LIMIT + 30), "Error in Downloading!!")
        w.expect_reason()
        w.expect_old_csv()

    def case_link_removed(self, w):
        # The device's name goes away; the line that is already open keeps working.
        self.interrupt_download(w)
        os.unlink(w.link)
        w.expect_exit(w.finish_cli(60), "Finished. Data in File")
        w.expect_csv(self.large_csv)

    def stop_cli(self, w, sig, code):
        signalled = self.interrupt_download(w)
        w.cli.send_signal(sig)
        w.finish_cli(10)
        stopped_in = time.monotonic() - signalled
        expect(w.cli.returncode == code, "exit code %d after %s, expected %d\n%s"
               % (w.cli.returncode, signal.Signals(sig).name, code, w.err))
        expect("stopped by " + signal.Signals(sig).name in w.err, "no word of the stop: " + w.err)
        expect(stopped_in <= 2.0, "took %.1f s to stop" % stopped_in)
        w.expect_old_csv()

    def case_cli_sigint(self, w):
        self.stop_cli(w, signal.SIGINT, 130)

    def case_cli_sigterm(self, w):
        self.stop_cli(w, signal.SIGTERM, 143)

    def case_sim_sigint_idle(self, w):
        w.start_sim()
        started = time.monotonic()
        w.stop_sim(signal.SIGINT)
        expect(time.monotonic() - started <= 2.0, "meterlink-sim took long to stop")
        expect(w.sim.returncode == 0, "meterlink-sim exited with %d" % w.sim.returncode)
        expect(not os.path.lexists(w.link), "meterlink-sim left its link behind")
        expect_no_sanitizer_report("meterlink-sim", w.sim_err)


CASES = [
    ("clean", Suite.case_clean),
    ("silent", Suite.case_silent),
    ("ignore:3", Suite.case_ignore_3),
    ("ignore:10", Suite.case_ignore_10),
    ("badcrc", Suite.case_badcrc),
    ("badcrc:10", Suite.case_badcrc_10),
    ("exception:2", Suite.case_exception),
    ("truncate:5", Suite.case_truncate),
    ("noise", Suite.case_noise),
    ("delay:0.2", Suite.case_delay_short),
    ("delay:6", Suite.case_delay_long),
    ("no device", Suite.case_no_device),
    ("meter unplugged", Suite.case_meter_unplugged),
    ("meter SIGTERM", Suite.case_meter_stopped),
    ("link removed", Suite.case_link_removed),
    ("cli SIGINT", Suite.case_cli_sigint),
    ("cli SIGTERM", Suite.case_cli_sigterm),
    ("sim SIGINT idle", Suite.case_sim_sigint_idle),
]


def run_case(suite, name, case):
    world = World(suite, name)
    started = time.monotonic()
    try:
        case(suite, world)
        world.check_sim()
        return name, None, time.monotonic() - started
    except CaseFailed as failure:
        return name, str(failure), time.monotonic() - started
    except Exception as error:  # a fault of the suite itself is a failure too
        return name, "%s: %s" % (type(error).__name__, error), time.monotonic() - started
    finally:
        world.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--jobs", type=int, default=6)
    parser.add_argument("--only", nargs="*")
    options = parser.parse_args()
    for program in (options.cli, options.sim):
        if not os.access(program, os.X_OK):
            print("faults: %s is not built" % program)
            return 1

    suite = Suite(options.cli, options.sim)
    try:
        suite.small_csv = suite.reference(SMALL_LOG, None)
        suite.large_csv = suite.reference(LARGE_LOG, LARGE_BAUD)
    except CaseFailed as failure:
        print("faults: the clean downloads that the cases compare against failed:\n%s" % failure)
        return 1

    cases = [(n, c) for n, c in CASES if not options.only or n in options.only]
    with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
        results = list(pool.map(lambda nc: run_case(suite, *nc), cases))
    failed = [(n, why) for n, why, _ in results if why]
    for name, why in failed:
        print("FAILED %s: %s\n" % (name, why))
    print("faults: %d/%d passed (%s)" % (len(results) - len(failed), len(results),
                                         ", ".join("%s %.1fs%s" % (n, t, " FAILED" if why else "")
                                                   for n, why, t in results)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
