#!/usr/bin/python3
"""End-to-end runs of the real cfg_t516, cfg_t540 and cfg_t528 executables.

Each case starts its own X server (Xvfb), D-Bus session and accessibility bus,
a simulated module (hv52sim --log) on a pseudo-terminal and the tool; it
clicks the tool's buttons with xdotool at the places the accessibility tree
gives, reads message boxes and cells back through AT-SPI, and checks them
against the frames the simulator logged. Everything started here is ended on
every path out.

Runs with Debian's /usr/bin/python3: python3-pyatspi and python3-xlib are
system packages.

  e2e.py --sim PATH --tool t516=PATH [--tool t540=PATH ...] CASE
  CASE: t516 | t540 | t528 | startup | shutdown | monitor_t516 | monitor_t540 | monitor_t528
"""

import argparse
import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

# Every wait has a deadline; these are generous on purpose (CI machines run
# other tests in parallel). None of them is a measurement.
START_TIMEOUT = 30.0
UI_TIMEOUT = 20.0
POLL_TIMEOUT = 60.0
EXIT_TIMEOUT = 15.0

ON_CODE = 20560

MAIN_TITLES = {
    "t516": "HV52T516扩展模块",
    "t540": "HV52T540扩展模块",
    "t528": "HV52T528扩展模块",
}
POLL_REQUESTS = {"t516": 27, "t540": 21, "t528": 12}
FIRST_POLL_FRAME = "01 03 0E 40 00 02 C7 37"

POLL_DONE = "召测数据，完成！"
MONITOR_COLUMNS = ["时间", "请求", "应答", "用时", "结果", "含义"]
SET_DONE = "设置成功！"
RESET_DONE = "复位成功!"


class Failure(Exception):
    pass


def log(text):
    print(text, flush=True)


def check(condition, text):
    if not condition:
        raise Failure(text)


def wait_until(probe, timeout, what, interval=0.1):
    """Calls probe until it returns something true; fails after timeout."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except Failure:
            raise
        except Exception as e:  # a tree changing under a read, a window gone
            last_error = e
        if time.monotonic() > deadline:
            extra = f" (last error: {last_error!r})" if last_error else ""
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}{extra}")
        time.sleep(interval)


# --- Modbus frames ---------------------------------------------------------

def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(data):
    crc = crc16(data)
    return bytes(data) + bytes([crc & 0xFF, crc >> 8])


def hex_text(data):
    return " ".join(f"{b:02X}" for b in data)


def write_frame(reg, value, address=1):
    return with_crc(bytes([address, 0x10, reg >> 8, reg & 0xFF, 0, 1, 2, value >> 8, value & 0xFF]))


# --- display conversions, as the operator must see them ----------------------

def divided_text(raw, divisor):
    """A read-back number divided, as plain decimal text without trailing zeros."""
    value = raw / divisor
    if value == 0:
        return "0"
    # Values here are integers over 10 or 100: a fixed two decimals is exact.
    text = f"{value:.2f}".rstrip("0").rstrip(".")
    return text


def state_text(raw, on, off):
    return on if raw == ON_CODE else off


SIGNAL_TYPE_TEXTS = ["4-20 mA", "0- 5 V"]
RELAY_COMMAND_TEXTS = {0: "报警输出", 1: "上位机控制", 0x5050: "控制继电器动作", 0x3030: "控制继电器恢复"}


# --- processes -------------------------------------------------------------

_libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Should this script be killed outright (SIGKILL from a test runner), its
    # children must not outlive it.
    _libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


class Processes:
    """Processes started by this run, each in its own process group, ended
    (group and all) in reverse order on every path out."""

    def __init__(self):
        self.started = []

    def start(self, args, **kw):
        proc = subprocess.Popen(args, start_new_session=True, preexec_fn=_die_with_parent, **kw)
        self.started.append(proc)
        return proc

    def stop(self, proc, grace=3.0):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                pass
        # Helpers the process spawned (a bus daemon, the registry) share its group.
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        if proc.poll() is None:
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                pass

    def stop_all(self):
        for proc in reversed(self.started):
            self.stop(proc)
        self.started.clear()


def read_line(stream, timeout, what):
    """One line from a pipe within timeout."""
    ready, _, _ = select.select([stream], [], [], timeout)
    check(ready, f"timed out after {timeout:.0f} s waiting for {what}")
    line = stream.readline()
    check(line, f"{what}: the process closed its output")
    return line.decode().strip() if isinstance(line, bytes) else line.strip()


class Desktop:
    """An X server, a D-Bus session and an accessibility bus of their own.
    After start() this process's environment points at them, and pyatspi is
    imported (it binds to the buses it finds in the environment)."""

    def __init__(self, procs, workdir):
        self.procs = procs
        self.workdir = workdir
        self.env = None

    def start(self):
        read_fd, write_fd = os.pipe()
        try:
            # -displayfd: the server picks a free display and tells its number.
            # -noreset: the server must outlive its last client (a tool that
            # exits while the next one is not yet up).
            self.xlog = open(os.path.join(self.workdir, "xvfb.log"), "wb")
            self.xserver = self.procs.start(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                                             "-nolisten", "tcp", "-noreset"], pass_fds=[write_fd],
                                            stdout=subprocess.DEVNULL, stderr=self.xlog)
            os.close(write_fd)
            write_fd = None
            with os.fdopen(read_fd, "rb", buffering=0) as pipe:
                read_fd = None
                display = read_line(pipe, START_TIMEOUT, "Xvfb's display number")
        finally:
            for fd in (read_fd, write_fd):
                if fd is not None:
                    os.close(fd)
        os.environ["DISPLAY"] = ":" + display
        wait_until(self._x_ready, START_TIMEOUT, f"the X server on :{display}")

        runtime = os.path.join(self.workdir, "runtime")
        os.mkdir(runtime, 0o700)
        os.environ["XDG_RUNTIME_DIR"] = runtime
        for name in ("AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_PID", "SESSION_MANAGER"):
            os.environ.pop(name, None)
        bus = self.procs.start(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = read_line(bus.stdout, START_TIMEOUT, "the D-Bus address")
        self.procs.start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        global pyatspi
        import pyatspi  # noqa: F401 (bound to the buses above)

        self.env = dict(os.environ)
        self.env.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_ACCESSIBILITY": "1",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "LANG": "C.UTF-8",
        })
        # The accessibility bus must be up before a tool starts, or the tool
        # never registers with it.
        wait_until(self._a11y_bus_ready, START_TIMEOUT, "the accessibility bus")

    def _x_ready(self):
        check(self.xserver.poll() is None, f"Xvfb exited: {self.x_log()}")
        from Xlib import display as xdisplay
        xdisplay.Display().close()
        return True

    def x_log(self):
        try:
            with open(os.path.join(self.workdir, "xvfb.log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    @staticmethod
    def _a11y_bus_ready():
        out = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                              "org.a11y.Bus.GetAddress"], capture_output=True, timeout=10)
        return out.returncode == 0 and b"unix:" in out.stdout


# --- the simulated module ----------------------------------------------------

class Sim:
    def __init__(self, procs, exe, module, serial_dir, port, extra=()):
        self.lines = []
        self.lock = threading.Lock()
        self.proc = procs.start([exe, "--module", module, "--dir", serial_dir, "--port", str(port),
                                 "--log", "--no-demo", *extra],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready = read_line(self.proc.stdout, START_TIMEOUT, "the simulator to be ready")
        check("ready on" in ready, f"simulator did not start: {ready}")
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            with self.lock:
                self.lines.append(raw.decode().strip())

    def frames(self):
        """(direction, bytes) for every logged frame: '->' request, '<-' answer."""
        out = []
        with self.lock:
            lines = list(self.lines)
        for line in lines:
            m = re.fullmatch(r"(->|<-) ((?:[0-9A-F]{2} ?)*)", line)
            if m:
                out.append((m.group(1), bytes.fromhex(m.group(2))))
        return out

    def requests(self):
        return [f for d, f in self.frames() if d == "->"]

    def exchanges_since(self, start):
        """Requests from index start on, each with the answer that followed it
        (None when the module stayed silent)."""
        pairs = []
        for d, f in self.frames():
            if d == "->":
                pairs.append([f, None])
            elif pairs and pairs[-1][1] is None:
                pairs[-1][1] = f
        return pairs[start:]

    def running(self):
        return self.proc.poll() is None

    def dump(self):
        with self.lock:
            return "\n".join(self.lines[-80:])


# --- accessibility tree -------------------------------------------------------

def role(acc):
    return acc.getRoleName()


def children(acc):
    return [acc.getChildAtIndex(i) for i in range(acc.childCount)]


def descendants(acc, wanted_role=None):
    """Depth first, in child order (which is the widgets' creation order)."""
    out = []
    for child in children(acc):
        if child is None:
            continue
        if wanted_role is None or role(child) == wanted_role:
            out.append(child)
        out.extend(descendants(child, wanted_role))
    return out


def centre(acc):
    ext = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    check(ext.width > 0 and ext.height > 0, f"{role(acc)} '{acc.name}' has no extents")
    return ext.x + ext.width // 2, ext.y + ext.height // 2


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=10)


def click(acc):
    x, y = centre(acc)
    # No --sync: it waits for a motion that never comes when the pointer is
    # already there. The server handles the move before the click anyway.
    xdotool("mousemove", str(x), str(y), "click", "1")


class Tool:
    """One running tool and its windows as AT-SPI sees them."""

    def __init__(self, procs, desktop, exe, args, serial_dir):
        self.name = os.path.basename(exe)
        env = dict(desktop.env, HV52_SERIAL_DIR=serial_dir)
        self.proc = procs.start([exe, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.output = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stdout:
            self.output.append(raw.decode(errors="replace").rstrip())

    def app(self):
        desk = pyatspi.Registry.getDesktop(0)
        for app in children(desk):
            try:
                if app is not None and app.get_process_id() == self.proc.pid:
                    app.clear_cache()
                    return app
            except Exception:
                continue
        return None

    def windows(self):
        app = self.app()
        return children(app) if app is not None else []

    def main_window(self, title):
        for w in self.windows():
            if w.name == title and role(w) not in ("dialog", "alert"):
                return w
        return None

    def wait_main_window(self, title):
        return wait_until(lambda: self.main_window(title), START_TIMEOUT, f"the window '{title}' of {self.name}")

    def message_boxes(self):
        return [w for w in self.windows() if role(w) in ("dialog", "alert")]

    def message_box(self):
        """(box, text) of the one message box once it shows with its button,
        else None."""
        boxes = self.message_boxes()
        if len(boxes) != 1:
            return None
        box = boxes[0]
        buttons = [b.name for b in descendants(box, "push button")]
        texts = [l.name for l in descendants(box, "label") if l.name]
        if "确定" not in buttons or not texts:
            return None
        return box, "\n".join(texts)

    def wait_message_box(self, timeout=UI_TIMEOUT):
        def probe():
            check(self.proc.poll() is None, f"{self.name} exited ({self.proc.returncode}) instead of showing a message")
            return self.message_box()
        return wait_until(probe, timeout, f"a message box of {self.name}")

    def answer_message_box(self):
        """Presses Return on the message box and waits until it is gone."""
        # Return goes to the window with the keyboard focus; the box takes it
        # when it shows (it is titled with the program name), but a key sent
        # before that would miss it.
        def box_has_focus():
            focus = subprocess.run(["xdotool", "getwindowfocus"], capture_output=True, text=True, timeout=10)
            boxes = [wid for title, viewable, wid in x_windows() if title == self.name and viewable]
            return focus.returncode == 0 and focus.stdout.strip() in [str(b) for b in boxes]
        wait_until(box_has_focus, UI_TIMEOUT, "the message box to take the keyboard focus")
        xdotool("key", "Return")
        wait_until(lambda: self.proc.poll() is not None or not self.message_boxes(), UI_TIMEOUT,
                   "the message box to close after Return")

    def button(self, window, text, index=0):
        buttons = [b for b in descendants(window, "push button") if b.name == text]
        check(len(buttons) > index, f"no button '{text}' #{index + 1} in the window")
        return buttons[index]

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{self.name} did not exit within {timeout:.0f} s")


def group_panels(window):
    return {p.name: p for p in descendants(window, "panel") if p.name}


def rows_of(panel, caption, cells):
    """The cells after the row caption label, in creation order."""
    labels = descendants(panel, "label")
    names = [l.name for l in labels]
    check(caption in names, f"no row '{caption}' in group '{panel.name}': {names}")
    i = names.index(caption)
    check(len(labels) >= i + 1 + cells, f"row '{caption}' has fewer than {cells} cells")
    return [l.name for l in labels[i + 1:i + 1 + cells]]


def combos_of(acc):
    """Current texts of the lists in acc, in creation order."""
    return [c.name for c in descendants(acc, "combo box")]


# --- the cases ---------------------------------------------------------------

class Run:
    def __init__(self, args):
        self.args = args
        self.procs = Processes()
        self.workdir = tempfile.mkdtemp(prefix="hv52-e2e-")
        self.serial_dir = os.path.join(self.workdir, "ports")
        os.mkdir(self.serial_dir)
        self.desktop = Desktop(self.procs, self.workdir)
        self.sims = []
        self.tools = []

    def close(self):
        self.procs.stop_all()
        shutil.rmtree(self.workdir, ignore_errors=True)

    def exe(self, module):
        path = self.args.tools.get(module)
        check(path and os.access(path, os.X_OK), f"no executable for cfg_{module}")
        return path

    def sim(self, module, port=1, extra=()):
        s = Sim(self.procs, self.args.sim, module, self.serial_dir, port, extra)
        self.sims.append(s)
        return s

    def tool(self, module, args):
        t = Tool(self.procs, self.desktop, self.exe(module), args, self.serial_dir)
        self.tools.append(t)
        return t

    def diagnostics(self):
        if getattr(self.desktop, "xserver", None) is not None:
            state = "running" if self.desktop.xserver.poll() is None else f"exited {self.desktop.xserver.returncode}"
            log(f"--- Xvfb ({state}):\n{self.desktop.x_log()}")
        for s in self.sims:
            log(f"--- simulator log (last lines):\n{s.dump()}")
        for t in self.tools:
            if t.output:
                log(f"--- {t.name} output:\n" + "\n".join(t.output[-40:]))


# Registers given distinct values so a value in the wrong cell shows.
def input_values(inputs):
    out = []
    for n in range(inputs):
        out.append({
            "count": 70000 + 1111 * n if n % 2 == 0 else 3 + n,  # some need the high register
            "state": ON_CODE if n % 2 == 0 else (0 if n == 1 else 1),
            "ontime": 12345 + 7 * n if n != 1 else 40,
        })
    return out


def sim_settings(module):
    inputs = 7 if module == "t540" else 2
    extra = []
    for n, v in enumerate(input_values(inputs)):
        extra += ["--set32", f"{0x0E40 + 3 * n}={v['count']}", "--set", f"{0x0E42 + 3 * n}={v['state']}",
                  "--set32", f"{0x0E5E + 2 * n}={v['ontime']}"]
    if module != "t540":
        extra += ["--set32", f"{0x0E20}=65537", "--set", f"{0x0E22}={ON_CODE}", "--set", f"{0x0E80}=0x5050",
                  "--set32", f"{0x0E23}=12", "--set", f"{0x0E25}=0x3030", "--set", f"{0x0E81}=1"]
    if module == "t516":
        extra += ["--set", f"{0x0E72}=1234", "--set", f"{0x0E73}=2000", "--set", f"{0x0E74}=5",
                  "--set", f"{0x0EB2}=1", "--set", f"{0x0EB6}=0", "--set", f"{0x0EBA}=1"]
    return extra


def expect_message(tool, expected, what):
    _, text = tool.wait_message_box(POLL_TIMEOUT)
    check(text == expected, f"{what}: message box says {text!r}, expected {expected!r}")
    tool.answer_message_box()


def read_frame(reg, count, address=1):
    return with_crc(bytes([address, 0x03, reg >> 8, reg & 0xFF, 0, count]))


def poll_reads(module):
    """(register, count) of every read of 召测, in the order the tool sends them."""
    reads = []
    for n in range(7 if module == "t540" else 2):
        reads += [(0x0E40 + 3 * n, 2), (0x0E42 + 3 * n, 1), (0x0E5E + 2 * n, 2)]  # count, state, ON time
    if module != "t540":
        for k in range(2):
            reads += [(0x0E20 + 3 * k, 2), (0x0E22 + 3 * k, 1), (0x0E80 + k, 1)]  # count, state, command
    if module == "t516":
        reads += [(0x0E72 + k, 1) for k in range(3)]  # present values
        reads += [(0x0EB2 + 4 * k, 1) for k in range(3)]  # signal types
        reads += [(0x0EB3 + 4 * k, 1) for k in range(3)]  # sources
        for k in range(3):
            reads += [(0x0EB4 + 4 * k, 1), (0x0EB5 + 4 * k, 1)]  # lower and upper limit
    return reads


def value_of(count, answer, what):
    """The value a read answer of count registers carried."""
    check(answer is not None, f"{what}: the module did not answer")
    check(len(answer) == 5 + 2 * count and answer[:3] == bytes([1, 3, 2 * count]),
          f"{what}: not an answer of {count} register(s): {hex_text(answer)}")
    return int.from_bytes(answer[3:3 + 2 * count], "big")


def poll_and_check(tool, window, sim, module):
    """召测: the complete message, every request in the log, and every checked
    cell showing what the module answered."""
    start = len(sim.requests())
    click(tool.button(window, "召测"))
    expect_message(tool, POLL_DONE, "召测")

    pairs = sim.exchanges_since(start)
    check(len(pairs) == POLL_REQUESTS[module], f"召测 sent {len(pairs)} requests, expected {POLL_REQUESTS[module]}")
    check(hex_text(pairs[0][0]) == FIRST_POLL_FRAME,
          f"first request of 召测 is {hex_text(pairs[0][0])}, expected {FIRST_POLL_FRAME}")
    reads = poll_reads(module)
    for i, ((reg, count), (request, _)) in enumerate(zip(reads, pairs)):
        check(request == read_frame(reg, count), f"read #{i + 1} of 召测 is {hex_text(request)}, "
              f"expected {hex_text(read_frame(reg, count))}")
    values = [value_of(count, answer, f"read #{i + 1} ({hex_text(request)})")
              for i, ((reg, count), (request, answer)) in enumerate(zip(reads, pairs))]

    inputs = 7 if module == "t540" else 2
    expected = {}  # (group, row caption) -> cell texts
    pos = 0
    for n in range(inputs):
        count, state, ontime = values[pos:pos + 3]
        pos += 3
        expected[("数字量输入", f"输入{n + 1}")] = [str(count), state_text(state, "ON", "OFF"),
                                                  divided_text(ontime, 10)]
    relay_commands = []
    if module != "t540":
        for k in range(2):
            count, state, command = values[pos:pos + 3]
            pos += 3
            expected[("数字量输出", f"继电器{k + 1}")] = [str(count), state_text(state, "动作", "恢复")]
            relay_commands.append(RELAY_COMMAND_TEXTS.get(command, str(command)))
    signal_types = []
    if module == "t516":
        for k in range(3):
            expected[("模拟量输出", f"输出{k + 1}")] = [divided_text(values[pos + k], 100)]
            signal_types.append(SIGNAL_TYPE_TEXTS[values[pos + 3 + k]])

    def cells_match():
        panels = group_panels(tool.main_window(MAIN_TITLES[module]))
        seen = {key: rows_of(panels[key[0]], key[1], len(want)) for key, want in expected.items()}
        wanted = dict(expected)
        if module != "t540":
            seen["relay commands"] = combos_of(panels["数字量输出"])[:2]
            wanted["relay commands"] = relay_commands
        if module == "t516":
            # Four lists a row: signal type, source, lower and upper limit.
            seen["signal types"] = combos_of(panels["模拟量输出"])[0::4]
            wanted["signal types"] = signal_types
        cells_match.last, cells_match.wanted = seen, wanted
        return seen == wanted
    cells_match.last = cells_match.wanted = None
    try:
        wait_until(cells_match, UI_TIMEOUT, "the cells to show the polled values")
    except Failure:
        raise Failure(f"cells after 召测 differ from the answers in the log:\n  shown    {cells_match.last}\n"
                      f"  answered {cells_match.wanted}")
    log(f"召测: {len(pairs)} reads, the window shows the answers: {cells_match.wanted}")
    return relay_commands


def one_write(tool, sim, button, expected_frame, expected_text, what):
    """One press that sends one write: the frame on the line, its confirmation
    and the message."""
    start = len(sim.requests())
    click(button)
    expect_message(tool, expected_text, what)
    pairs = sim.exchanges_since(start)
    check(len(pairs) == 1, f"{what} sent {len(pairs)} requests, expected 1: {[hex_text(p[0]) for p in pairs]}")
    check(pairs[0][0] == expected_frame,
          f"{what} sent {hex_text(pairs[0][0])}, expected {hex_text(expected_frame)}")
    check(pairs[0][1] is not None and pairs[0][1][:6] == expected_frame[:6],
          f"{what}: the module did not confirm the write")
    log(f"{what}: {hex_text(pairs[0][0])}, '{expected_text}'")


def case_tool(run, module):
    sim = run.sim(module, extra=sim_settings(module))
    tool = run.tool(module, ["1", "1", "9600"])
    window = tool.wait_main_window(MAIN_TITLES[module])
    relay_commands = poll_and_check(tool, window, sim, module)

    if module != "t540":
        # Relay 1's list shows what the poll read, so that value goes out again.
        value = {t: c for c, t in RELAY_COMMAND_TEXTS.items()}[relay_commands[0]]
        panels = group_panels(window)
        one_write(tool, sim, tool.button(panels["数字量输出"], "设置", 0), write_frame(0x0E80, value),
                  SET_DONE, "relay 1 设置")
    # The reset list (the window's first list) starts on its first entry.
    reset_text, reset_code = (("数字量输入M-S1计数器及ON持续时间", 0x6010) if module == "t540"
                              else ("继电器输出M-R1计数器", 0x6003))
    shown = combos_of(window)[0]
    check(shown == reset_text, f"the reset list shows {shown!r}, expected {reset_text!r}")
    one_write(tool, sim, tool.button(window, "复位"), write_frame(0x0B00, reset_code), RESET_DONE, "复位")

    check(tool.proc.poll() is None, f"{tool.name} exited ({tool.proc.returncode}) during the run")


def x_windows():
    """(title, viewable, id) of every top-level X window."""
    from Xlib import X, display as xdisplay
    d = xdisplay.Display()
    try:
        out = []
        utf8 = d.intern_atom("UTF8_STRING")
        net_name = d.intern_atom("_NET_WM_NAME")
        for w in d.screen().root.query_tree().children:
            try:
                prop = w.get_full_property(net_name, utf8)
                title = prop.value.decode() if prop else (w.get_wm_name() or "")
                if isinstance(title, bytes):
                    title = title.decode(errors="replace")
                out.append((title, w.get_attributes().map_state == X.IsViewable, w.id))
            except Exception:
                continue
        return out
    finally:
        d.close()


def send_wm_delete(title):
    """Closes the window titled title as a window manager does: a
    WM_DELETE_WINDOW client message."""
    from Xlib import X, display as xdisplay, protocol
    d = xdisplay.Display()
    try:
        ids = [wid for t, viewable, wid in x_windows() if t == title and viewable]
        check(len(ids) == 1, f"expected one window '{title}' on the screen, found {len(ids)}")
        win = d.create_resource_object("window", ids[0])
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        check(delete in (win.get_wm_protocols() or []), f"window '{title}' does not take WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=win, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        win.send_event(event, event_mask=X.NoEventMask)
        # A round trip, not just a flush: a request still unread when this
        # connection closes may be dropped by the server.
        d.sync()
    finally:
        d.close()


def x_window_id(title):
    ids = [wid for t, viewable, wid in x_windows() if t == title and viewable]
    check(len(ids) == 1, f"expected one window '{title}' on the screen, found {len(ids)}")
    return ids[0]


def press_f12(title):
    """F12 on the window titled title, as the operator presses it there."""
    xdotool("windowfocus", "--sync", str(x_window_id(title)), "key", "F12")


def monitor_table(tool, title):
    """The table of the line monitor window titled title (AT-SPI Table)."""
    windows = [w for w in tool.windows() if w.name == title]
    check(len(windows) == 1, f"expected one window '{title}' in the tree, found {len(windows)}")
    tables = descendants(windows[0], "table")
    check(len(tables) == 1, f"expected one table in '{title}', found {len(tables)}")
    return tables[0].queryTable()


def monitor_rows(tool, title):
    table = monitor_table(tool, title)
    return [[table.getAccessibleAt(r, c).name for c in range(table.nColumns)] for r in range(table.nRows)]


def case_monitor(run, module):
    """F12 opens the line monitor without a word on the line; a poll with one
    exception answer shows there row for row as the module's log has it."""
    sim = run.sim(module, extra=sim_settings(module) + ["--fault", "exception", "--fault-count", "1"])
    tool = run.tool(module, ["1", "1", "9600"])
    main_title = MAIN_TITLES[module]
    tool.wait_main_window(main_title)
    title = f"通讯监视 - {tool.name}"

    press_f12(main_title)
    wait_until(lambda: any(t == title and v for t, v, _ in x_windows()) and tool.main_window(title),
               UI_TIMEOUT, f"the window '{title}' after F12")
    table = monitor_table(tool, title)
    headers = [table.getColumnDescription(c) for c in range(table.nColumns)]
    check(headers == MONITOR_COLUMNS, f"monitor columns {headers}, expected {MONITOR_COLUMNS}")
    check(table.nRows == 0, f"the monitor shows {table.nRows} rows before anything was sent")
    check(not sim.requests(), f"opening the monitor sent {len(sim.requests())} requests")

    window = tool.main_window(main_title)
    click(tool.button(window, "召测"))
    _, text = tool.wait_message_box(POLL_TIMEOUT)
    check(text.startswith(POLL_DONE + "\n"), f"召测 says {text!r}, expected it to report one failure")
    tool.answer_message_box()

    pairs = sim.exchanges_since(0)
    reads = POLL_REQUESTS[module]
    check(len(pairs) == reads, f"召测 sent {len(pairs)} requests, expected {reads}")
    rows = wait_until(lambda: (lambda r: r if len(r) == reads else None)(monitor_rows(tool, title)), UI_TIMEOUT,
                      f"{reads} rows in the monitor")
    for i, (row, (request, answer)) in enumerate(zip(rows, pairs)):
        check(row[1] == hex_text(request), f"row {i + 1}: 请求 {row[1]!r}, the module received {hex_text(request)}")
        check(answer is not None and row[2] == hex_text(answer),
              f"row {i + 1}: 应答 {row[2]!r}, the module sent {hex_text(answer) if answer else None}")
        check(re.fullmatch(r"\d\d:\d\d:\d\d\.\d{3}", row[0]), f"row {i + 1}: 时间 {row[0]!r}")
        check(re.fullmatch(r"\d+\.\d ms", row[3]), f"row {i + 1}: 用时 {row[3]!r}")
        expected = "异常应答 04：从站设备故障" if i == 0 else "有效"
        check(row[4] == expected, f"row {i + 1}: 结果 {row[4]!r}, expected {expected!r}")
    check(rows[0][5] == "输入1 输入次数 0x0E40", f"row 1: 含义 {rows[0][5]!r}")
    state = "ON" if input_values(1)[0]["state"] == ON_CODE else "OFF"
    check(rows[1][5] == f"输入1 输入状态 0x0E42 = {state}", f"row 2: 含义 {rows[1][5]!r}")
    log(f"monitor: {len(rows)} rows, as logged; row 1 {rows[0][1:]}; row 2 {rows[1][1:]}")

    # Closed and opened again: nothing sent, the rows are still there.
    send_wm_delete(title)
    wait_until(lambda: not any(t == title and v for t, v, _ in x_windows()), UI_TIMEOUT, f"'{title}' to close")
    press_f12(main_title)
    wait_until(lambda: len(monitor_rows(tool, title)) == reads, UI_TIMEOUT, f"'{title}' again with {reads} rows")
    check(len(sim.requests()) == reads, f"closing and opening the monitor sent {len(sim.requests()) - reads} requests")
    check(tool.proc.poll() is None, f"{tool.name} exited ({tool.proc.returncode}) during the run")
    log("monitor: closed and opened again, nothing sent, the rows kept")

    # Closing the tool window ends the program, the open monitor with it.
    send_wm_delete(main_title)
    status = tool.wait_exit()
    check(status == 0, f"{tool.name} exit status {status} after its window closed with the monitor open")
    log("monitor: the tool window closed with the monitor open, exit status 0")


def case_startup(run):
    # (a) A bad argument: a message naming it before any window, exit status 2.
    tool = run.tool("t516", ["1", "x", "9600"])
    title = MAIN_TITLES["t516"]

    def message_without_window():
        check(not any(t == title and v for t, v, _ in x_windows()), "the main window showed for a bad argument")
        check(tool.proc.poll() is None, f"exited ({tool.proc.returncode}) without a message")
        return tool.message_box()
    box, text = wait_until(message_without_window, START_TIMEOUT, "the bad-argument message")
    check("“x”" in text, f"bad-argument message does not name “x”: {text!r}")
    check(tool.main_window(title) is None, "the main window is in the tree while the bad-argument message shows")
    tool.answer_message_box()
    status = tool.wait_exit()
    check(status == 2, f"exit status {status} after a bad argument, expected 2")
    log(f"bad argument: '{text}', exit status 2")

    # (c) A port whose device does not exist: a message naming it, each time.
    tool = run.tool("t516", ["1", "7", "9600"])
    window = tool.wait_main_window(title)
    for attempt in (1, 2):
        click(tool.button(window, "召测"))
        _, text = tool.wait_message_box()
        check("COM7" in text, f"press {attempt}: the message does not name COM7: {text!r}")
        tool.answer_message_box()
        window = tool.main_window(title)
        check(window is not None, f"press {attempt}: the main window is gone")
        log(f"missing port, press {attempt}: '{text}'")
    check(tool.proc.poll() is None, "the tool exited after the missing-port message")


def case_shutdown(run):
    # The module stays silent for the first few requests, long enough for the
    # window to close in the first wait; later requests are answered, so the
    # same line then proves usable for a new tool instance.
    silent = 6
    for module, port in (("t516", 1), ("t540", 2)):
        sim = run.sim(module, port, ["--fault", "silent", "--fault-count", str(silent)])
        title = MAIN_TITLES[module]
        tool = run.tool(module, ["1", str(port), "9600"])
        window = tool.wait_main_window(title)
        click(tool.button(window, "召测"))
        wait_until(lambda: len(sim.requests()) >= 1, UI_TIMEOUT, "the first poll request")
        send_wm_delete(title)

        # Until it exits, no message box may show.
        def exited_quietly():
            boxes = tool.message_boxes()
            check(not boxes, f"a message box showed while {tool.name} closed: "
                  f"{[[l.name for l in descendants(b, 'label')] for b in boxes]}")
            check(not any(t == tool.name and v for t, v, _ in x_windows()),
                  f"a message box showed while {tool.name} closed")
            return tool.proc.poll() is not None
        wait_until(exited_quietly, EXIT_TIMEOUT, f"{tool.name} to exit after its window was closed")
        check(tool.proc.returncode == 0, f"{tool.name} exit status {tool.proc.returncode} after closing, expected 0")
        sent = len(sim.requests())
        check(sent < silent, f"{tool.name} sent {sent} requests before it closed; the test needs fewer than {silent}")
        check(sim.running(), "the simulator ended with the tool")
        log(f"{module}: closed during the first wait, exit status 0, {sent} request(s) sent")

        # A new instance polls the same line: the silent remainder fails, the rest is answered.
        tool = run.tool(module, ["1", str(port), "9600"])
        window = tool.wait_main_window(title)
        click(tool.button(window, "召测"))
        _, text = tool.wait_message_box(POLL_TIMEOUT)
        total = POLL_REQUESTS[module]
        expected = POLL_DONE + (f"\n{total} 次读取中有 {silent - sent} 次失败。\n超时无应答 {silent - sent} 次"
                                if silent > sent else "")
        check(text == expected, f"{module}: second instance's 召测 says {text!r}, expected {expected!r}")
        tool.answer_message_box()
        # A read after a silent one, while that one's late answer may still
        # come, is read again and counts when its answers agree (three
        # requests where two registers hold equal values and one answer
        # might be the other's); once nothing can be owed any more (how soon
        # depends on the time the reads take), once is enough.
        failed = max(0, silent - sent)
        most = failed + (total - failed) * (3 if failed else 1)
        least = failed + (total - failed) + (1 if failed else 0)
        got = len(sim.requests()) - sent
        check(least <= got <= most, f"{module}: second instance sent {got} requests, expected {least} to {most}")
        log(f"{module}: a new instance polled the same line: {text!r}")
        run.procs.stop(tool.proc)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--tool", action="append", default=[], help="MODULE=PATH")
    parser.add_argument("case", choices=["t516", "t540", "t528", "startup", "shutdown",
                                         "monitor_t516", "monitor_t540", "monitor_t528"])
    parser.add_argument("--time-limit", type=int, default=240,
                        help="seconds before the run gives up and cleans up (below the test runner's own limit)")
    args = parser.parse_args()
    args.tools = dict(t.split("=", 1) for t in args.tool)

    def give_up(signum, _frame):
        raise Failure(f"stopped by signal {signal.Signals(signum).name}")
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM):
        signal.signal(sig, give_up)
    signal.alarm(args.time_limit)

    run = Run(args)
    try:
        run.desktop.start()
        if args.case in ("t516", "t540", "t528"):
            case_tool(run, args.case)
        elif args.case.startswith("monitor_"):
            case_monitor(run, args.case[len("monitor_"):])
        elif args.case == "startup":
            case_startup(run)
        else:
            case_shutdown(run)
    except Failure as e:
        log(f"FAIL: {e}")
        run.diagnostics()
        return 1
    except Exception:
        import traceback
        traceback.print_exc()
        run.diagnostics()
        return 1
    finally:
        signal.alarm(0)
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, signal.SIG_IGN)  # let the clean-up finish
        run.close()
    log(f"PASS: {args.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
