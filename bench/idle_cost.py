#!/usr/bin/env python3
"""What mailvane costs while it idles in the tray with the hot key enabled.

Starts a private Xvfb, trayer as the notification area and a private session bus, sets up a
throwaway settings store (one account, checks every 999 minutes so none runs, minimise style
"System Tray", hot key F12 with Alt enabled: a key grab of the X server), starts mailvane, waits
until it owns its bus name, has grabbed the key and has settled, then measures over the given time:

- CPU: user + system time of the process as a share of one core (target: under 0.05 %);
- memory: resident set size, the largest sample of one per second (target: under 60 MB).

The same run first measures mailvane with the hot key off, as the baseline, and prints the ratio.

Usage: idle_cost.py --build-dir BUILD [--seconds N] [--no-baseline]
"""

import argparse
import threading
import os
import subprocess
import sys
import tempfile
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
KEY = r"HKEY_LOCAL_MACHINE\Software\Corvanta\Mailvane 1.0"


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        sys.exit("Xvfb did not start")
    return xvfb, ":" + number


def start_bus():
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                           stdout=subprocess.PIPE, text=True)
    address = bus.stdout.readline().strip()
    if not address:
        sys.exit("dbus-daemon did not start")
    return bus, address


def name_has_owner(env):
    result = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                             "string:org.mailvane.Mailvane"], env=env, capture_output=True, text=True)
    return "boolean true" in result.stdout


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


CPU_TARGET = 0.05  # % of one core
MEMORY_TARGET = 60  # MB


def measure(app, seconds, hot_key):
    """Starts mailvane idling in the tray and returns (CPU % of one core, max MB, mean MB)."""
    helpers = []
    with tempfile.TemporaryDirectory(prefix="mailvane-idle.") as work:
        try:
            xvfb, display = start_xvfb()
            helpers.append(xvfb)
            env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=work,
                       MAILVANE_REGISTRY=os.path.join(work, "registry.sqlite3"),
                       QT_LOGGING_RULES="wrenkit.hotkey.debug=true")
            for name in ("WAYLAND_DISPLAY", "XDG_SESSION_TYPE"):
                env.pop(name, None)
            helpers.append(subprocess.Popen(["trayer", "--edge", "top", "--height", "24"], env=env,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            bus, address = start_bus()
            helpers.append(bus)
            env["DBUS_SESSION_BUS_ADDRESS"] = address

            reg = os.path.join(work, "idle.reg")
            enabled = "ffffffff" if hot_key else "00000000"
            with open(reg, "w") as f:
                f.write(f'REGEDIT4\n\n[{KEY}]\n"Interval"=dword:000003e7\n"MinStyle"=dword:00000000\n'
                        f'"HotKey"=dword:0000007b\n"Modifier"=dword:00000012\n"HotKeyEnabled"=dword:{enabled}\n\n'
                        f'[{KEY}\\Accounts\\Idle]\n"Host"="127.0.0.1"\n"UserName"="idle"\n"Password"=""\n'
                        f'"Selected"="True"\n')
            subprocess.run([os.path.join(app, "mailvane-settings"), "import", reg], env=env, check=True)

            mailvane = subprocess.Popen([os.path.join(app, "mailvane")], env=env, stderr=subprocess.PIPE,
                                        text=True)
            helpers.append(mailvane)
            # The hot key's diagnostics tell when the grab is in place.
            listening = threading.Event()

            def read_diagnostics():
                for line in mailvane.stderr:
                    if "Listening" in line:
                        listening.set()
            threading.Thread(target=read_diagnostics, daemon=True).start()

            deadline = time.monotonic() + 30
            while not name_has_owner(env):
                if time.monotonic() > deadline or mailvane.poll() is not None:
                    sys.exit("mailvane did not come up on the session bus")
                time.sleep(0.2)
            if hot_key and not listening.wait(30):
                sys.exit("mailvane did not grab its hot key")
            time.sleep(5)  # let start-up work (fonts, icon embedding) end before measuring

            start_cpu, start = cpu_seconds(mailvane.pid), time.monotonic()
            samples = []
            while time.monotonic() - start < seconds:
                samples.append(resident_mb(mailvane.pid))
                time.sleep(1)
            used = cpu_seconds(mailvane.pid) - start_cpu
            elapsed = time.monotonic() - start
            return 100 * used / elapsed, max(samples), sum(samples) / len(samples), used, elapsed
        finally:
            for process in reversed(helpers):
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--no-baseline", action="store_true", help="measure with the hot key on only")
    args = parser.parse_args()
    app = os.path.join(args.build_dir, "mailvane", "app")

    baseline = None if args.no_baseline else measure(app, args.seconds, hot_key=False)
    cpu, max_mb, mean_mb, used, elapsed = measure(app, args.seconds, hot_key=True)

    if baseline:
        print(f"baseline, hot key off, {baseline[4]:.0f} s: CPU {baseline[3]:.2f} s = {baseline[0]:.3f} % "
              f"of one core; resident memory max {baseline[1]:.1f} MB")
    print(f"mailvane idling in the tray, hot key enabled (X key grab), {elapsed:.0f} s:")
    print(f"  CPU: {used:.2f} s of {elapsed:.0f} s = {cpu:.3f} % of one core (target < {CPU_TARGET} %)")
    print(f"  resident memory: max {max_mb:.1f} MB, mean {mean_mb:.1f} MB (target < {MEMORY_TARGET} MB)")
    if baseline:
        ratio = "n/a (baseline 0)" if baseline[3] == 0 else f"{used / baseline[3]:.2f}"
        print(f"  against the baseline: CPU x {ratio}, memory {max_mb - baseline[1]:+.1f} MB")
    ok = cpu < CPU_TARGET and max_mb < MEMORY_TARGET
    print("  within the targets" if ok else "  OVER a target")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
