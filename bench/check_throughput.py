#!/usr/bin/env python3
"""How fast mailvane-check reads a large mailbox, and how little CPU it burns on a slow server.

1. Throughput: `mailvane-check --dry-run --json` against a plain sequential poplib client (log-in,
   STAT, LIST, TOP n 1 for every message, QUIT) on the same generated mailbox, alternating the
   two. The figure is the median of the per-round ratios mailvane-check / baseline. Then the same
   over POP3 with TLS (port of its own, self-signed certificate trusted by its fingerprint) against
   poplib.POP3_SSL.
2. Idle CPU: mailvane-check against a server whose every reply comes 200 ms late; the figure is
   its CPU time (user + system) as a share of its wall time.
3. Start-up: mailvane-check --help, with no account, and against an empty mailbox (next to poplib
   on that mailbox, which is what the server's log-in costs).
4. Latency: the throughput mailbox behind a proxy that holds every reply back by 25 ms (a distant
   server), mailvane-check (which sends header reads ahead where the server offers PIPELINING)
   against the same sequential poplib client through the same proxy. The figure is how many
   times faster mailvane-check is.

Needs root (the mailboxes are throwaway Dovecot instances started by mailvane-test-mailbox).
Usage: check_throughput.py --build-dir BUILD [--messages N] [--rounds R]
"""

import argparse
import json
import os
import poplib
import resource
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

USER = "bench"
PASSWORD = "bench-pass"
SETTINGS_KEY = r"HKEY_LOCAL_MACHINE\Software\Corvanta\Mailvane 1.0"


class Mailbox:
    """A mailvane-test-mailbox process; it stops its server when its standard input closes."""

    def __init__(self, build, *options):
        tool = os.path.join(build, "tests", "support", "mailvane-test-mailbox")
        self.process = subprocess.Popen(
            [tool, "--user", USER, "--password", PASSWORD, *options],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        if len(line) != 2 or line[0] != "port":
            self.close()
            sys.exit("mailvane-test-mailbox did not start (see its message above)")
        self.port = int(line[1])
        # With --tls: "tls-port N", "fingerprint HEX", "certificate PATH".
        self.tls = {}
        if "--tls" in options:
            for _ in range(3):
                key, value = self.process.stdout.readline().split(maxsplit=1)
                self.tls[key] = value.strip()
            self.tls_port = int(self.tls["tls-port"])

    def close(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.terminate()
            self.process.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def scramble(password):
    """The stored form of a password: character k (from 1) of code c becomes (c XOR k) + 3k."""
    out = "".join(chr((ord(c) ^ k) + 3 * k) for k, c in enumerate(password, 1))
    assert all(ord(c) < 256 for c in out), "choose a shorter password"
    return out.replace("\\", "\\\\").replace('"', '\\"')


class Store:
    """A throwaway settings store with one account on the given port and no filter that deletes."""

    def __init__(self, build, directory, name, port, security=0, fingerprint=None):
        self.check = os.path.join(build, "mailvane", "app", "mailvane-check")
        self.env = dict(os.environ, MAILVANE_REGISTRY=os.path.join(directory, name + ".sqlite3"))
        # The first run writes the default settings and ends with status 2: no account yet.
        status = subprocess.run([self.check], env=self.env, capture_output=True).returncode
        if status != 2:
            sys.exit(f"mailvane-check on a new store ended with status {status}, not 2")
        if port is None:
            return
        reg = os.path.join(directory, name + ".reg")
        with open(reg, "w", encoding="utf-8") as f:
            f.write(f"""REGEDIT4

[{SETTINGS_KEY}]
"BlockBlankFrom"=dword:00000000
"BlockBlankSubject"=dword:00000000
"BlockOverSize"=dword:00000000
"BlockZeroLength"=dword:00000000

[{SETTINGS_KEY}\\Accounts\\Bench]
"Host"="127.0.0.1"
"UserName"="{USER}"
"Password"="{scramble(PASSWORD)}"
"Selected"="True"
"Port"=dword:{port:08x}
""")
            if security:
                f.write(f'"Security"=dword:{security:08x}\n')
            if fingerprint:
                f.write(f'"TrustedCertificate"="{fingerprint}"\n')
        settings = os.path.join(build, "mailvane", "app", "mailvane-settings")
        subprocess.run([settings, "import", reg], env=self.env, check=True)

    def run(self, *arguments, expect_messages=None):
        """Runs mailvane-check; returns its wall time and CPU time (user + system) in seconds."""
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        result = subprocess.run([self.check, *arguments], env=self.env, capture_output=True, text=True)
        wall = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        if expect_messages is not None:
            if result.returncode != 0:
                sys.exit(f"mailvane-check ended with status {result.returncode}:\n"
                         f"{result.stdout}{result.stderr}")
            report = json.loads(result.stdout)
            listed = len(report["messages"])
            if listed != expect_messages or report["errors"] or report["rejected"]:
                sys.exit(f"mailvane-check listed {listed} of {expect_messages} messages, "
                         f"errors {report['errors']}, rejected {len(report['rejected'])}")
        return wall, cpu


def baseline(port, expect_messages):
    """The same work as a check, done by the simplest sequential client; returns its wall time."""
    start = time.perf_counter()
    pop = poplib.POP3("127.0.0.1", port, timeout=60)
    pop.user(USER)
    pop.pass_(PASSWORD)
    count, _ = pop.stat()
    pop.list()
    for number in range(1, count + 1):
        pop.top(number, 1)
    pop.quit()
    wall = time.perf_counter() - start
    if count != expect_messages:
        sys.exit(f"the baseline saw {count} of {expect_messages} messages")
    return wall


def baseline_tls(port, certificate, expect_messages):
    """baseline() over TLS: poplib.POP3_SSL verifying the server's certificate."""
    context = ssl.create_default_context(cafile=certificate)
    start = time.perf_counter()
    pop = poplib.POP3_SSL("127.0.0.1", port, timeout=60, context=context)
    pop.user(USER)
    pop.pass_(PASSWORD)
    count, _ = pop.stat()
    pop.list()
    for number in range(1, count + 1):
        pop.top(number, 1)
    pop.quit()
    wall = time.perf_counter() - start
    if count != expect_messages:
        sys.exit(f"the TLS baseline saw {count} of {expect_messages} messages")
    return wall


def baseline_process(port, expect_messages):
    """The same client as a program of its own, started and timed as mailvane-check is."""
    code = ("import poplib, sys\n"
            f"pop = poplib.POP3('127.0.0.1', {port}, timeout=60)\n"
            f"pop.user({USER!r}); pop.pass_({PASSWORD!r})\n"
            "count, _ = pop.stat(); pop.list()\n"
            "for number in range(1, count + 1): pop.top(number, 1)\n"
            "pop.quit(); print(count)\n")
    start = time.perf_counter()
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    wall = time.perf_counter() - start
    if result.returncode != 0 or int(result.stdout) != expect_messages:
        sys.exit(f"the baseline program failed: {result.stdout}{result.stderr}")
    return wall


def milliseconds(seconds):
    return f"{seconds * 1000:8.1f} ms"


def throughput(build, directory, messages, rounds):
    """Returns the median ratios against poplib in this process and as a program of its own."""
    print(f"Throughput: {messages} generated messages, {rounds} rounds after one warm-up each")
    with Mailbox(build, "--generate", str(messages)) as mailbox:
        store = Store(build, directory, "throughput", mailbox.port)
        arguments = ("--dry-run", "--json")
        store.run(*arguments, expect_messages=messages)
        baseline(mailbox.port, messages)
        baseline_process(mailbox.port, messages)
        ratios, process_ratios, checks, baselines, processes = [], [], [], [], []
        for r in range(1, rounds + 1):
            check_wall, check_cpu = store.run(*arguments, expect_messages=messages)
            base_wall = baseline(mailbox.port, messages)
            process_wall = baseline_process(mailbox.port, messages)
            checks.append(check_wall)
            baselines.append(base_wall)
            processes.append(process_wall)
            ratios.append(check_wall / base_wall)
            process_ratios.append(check_wall / process_wall)
            print(f"  round {r}: mailvane-check {milliseconds(check_wall)} (CPU {milliseconds(check_cpu)})"
                  f"   poplib {milliseconds(base_wall)} (as a program {milliseconds(process_wall)})"
                  f"   ratio {ratios[-1]:.2f} ({process_ratios[-1]:.2f})")
        print(f"  median: mailvane-check {milliseconds(statistics.median(checks))}   "
              f"poplib {milliseconds(statistics.median(baselines))} "
              f"(as a program {milliseconds(statistics.median(processes))})")
    return statistics.median(ratios), statistics.median(process_ratios)


def tls_throughput(build, directory, messages, rounds):
    """mailvane-check over TLS against poplib.POP3_SSL; returns the median ratio."""
    print(f"\nThroughput over TLS: {messages} generated messages, {rounds} rounds after one warm-up each")
    with Mailbox(build, "--generate", str(messages), "--tls") as mailbox:
        store = Store(build, directory, "tls", mailbox.tls_port, security=2,
                      fingerprint=mailbox.tls["fingerprint"])
        arguments = ("--dry-run", "--json")
        certificate = mailbox.tls["certificate"]
        store.run(*arguments, expect_messages=messages)
        baseline_tls(mailbox.tls_port, certificate, messages)
        ratios, checks, baselines = [], [], []
        for r in range(1, rounds + 1):
            check_wall, check_cpu = store.run(*arguments, expect_messages=messages)
            base_wall = baseline_tls(mailbox.tls_port, certificate, messages)
            checks.append(check_wall)
            baselines.append(base_wall)
            ratios.append(check_wall / base_wall)
            print(f"  round {r}: mailvane-check {milliseconds(check_wall)} (CPU {milliseconds(check_cpu)})"
                  f"   poplib.POP3_SSL {milliseconds(base_wall)}   ratio {ratios[-1]:.2f}")
        print(f"  median: mailvane-check {milliseconds(statistics.median(checks))}   "
              f"poplib.POP3_SSL {milliseconds(statistics.median(baselines))}")
    return statistics.median(ratios)


def idle_cpu(build, directory, messages, delay_ms):
    print(f"\nCPU on a slow server: {messages} messages, every reply {delay_ms} ms late")
    with Mailbox(build, "--generate", str(messages), "--delay-ms", str(delay_ms)) as mailbox:
        store = Store(build, directory, "slow", mailbox.port)
        wall, cpu = store.run("--dry-run", "--json", expect_messages=messages)
    print(f"  wall {milliseconds(wall)}   CPU (user + system) {milliseconds(cpu)}")
    return cpu / wall


def startup(build, directory, rounds):
    print(f"\nStart-up cost (median of {rounds} runs)")
    empty_store = Store(build, directory, "empty", None)
    help_only = statistics.median(empty_store.run("--help")[0] for _ in range(rounds))
    print(f"  --help (process start, libraries):        {milliseconds(help_only)}")
    no_account = statistics.median(empty_store.run()[0] for _ in range(rounds))
    print(f"  no account (adds the store and settings): {milliseconds(no_account)}")
    with Mailbox(build, "--generate", "0") as mailbox:
        store = Store(build, directory, "emptybox", mailbox.port)
        runs = [store.run("--dry-run", "--json", expect_messages=0) for _ in range(rounds)]
        base = statistics.median(baseline(mailbox.port, 0) for _ in range(rounds))
    wall = statistics.median(w for w, _ in runs)
    cpu = statistics.median(c for _, c in runs)
    print(f"  empty mailbox (whole check, no messages): {milliseconds(wall)}   CPU {milliseconds(cpu)}")
    print(f"  poplib on the empty mailbox:              {milliseconds(base)}")


def latency(build, directory, messages, delay_ms, rounds):
    print(f"\nLatency: {messages} messages, every reply {delay_ms} ms late ({rounds} round(s) of each)")
    with Mailbox(build, "--generate", str(messages), "--delay-ms", str(delay_ms)) as mailbox:
        store = Store(build, directory, "latency", mailbox.port)
        checks, baselines = [], []
        for r in range(1, rounds + 1):
            check_wall, check_cpu = store.run("--dry-run", "--json", expect_messages=messages)
            base_wall = baseline(mailbox.port, messages)
            checks.append(check_wall)
            baselines.append(base_wall)
            print(f"  round {r}: mailvane-check {milliseconds(check_wall)} (CPU {milliseconds(check_cpu)})"
                  f"   poplib {milliseconds(base_wall)}   {base_wall / check_wall:.1f} times faster")
    return statistics.median(baselines) / statistics.median(checks)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build-dir", required=True, help="the build folder (scripts/build.sh prints it)")
    parser.add_argument("--messages", type=int, default=2000, help="messages in the throughput mailbox")
    parser.add_argument("--rounds", type=int, default=5, help="timed rounds of each client")
    parser.add_argument("--slow-messages", type=int, default=30, help="messages in the slow mailbox")
    parser.add_argument("--delay-ms", type=int, default=200, help="how late the slow server answers")
    parser.add_argument("--latency-ms", type=int, default=25, help="round trip of the distant server")
    parser.add_argument("--latency-rounds", type=int, default=1,
                        help="timed rounds at that round trip (poplib takes messages x round trip each)")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("The benchmark starts Dovecot servers and must run as root.")
    build = os.path.abspath(args.build_dir)

    with tempfile.TemporaryDirectory(prefix="mailvane-bench.") as directory:
        ratio, process_ratio = throughput(build, directory, args.messages, args.rounds)
        tls_ratio = tls_throughput(build, directory, args.messages, args.rounds)
        cpu_share = idle_cpu(build, directory, args.slow_messages, args.delay_ms)
        startup(build, directory, args.rounds)
        speed_up = latency(build, directory, args.messages, args.latency_ms, args.latency_rounds)

    print("\nResults")
    print(f"  time ratio mailvane-check / poplib (median): {ratio:.2f}   (target 0.5 or lower)")
    print(f"    against poplib as a program of its own:    {process_ratio:.2f}   (both timed from start to exit)")
    print(f"  over TLS, mailvane-check / poplib.POP3_SSL:  {tls_ratio:.2f}")
    print(f"  CPU share while waiting on a slow server:    {cpu_share * 100:.1f} %   (target under 5 %)")
    print(f"  at {args.latency_ms} ms round trip, faster than poplib: {speed_up:.1f} times   (target 25 or more)")


if __name__ == "__main__":
    main()
