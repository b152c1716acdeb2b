"""What the crawl benchmarks of bench/ share: nginx as a plain child process, runs under GNU
time in fresh empty folders, medians, and the lines that tell on what machine they ran."""

import argparse
import datetime
import os
import platform
import pwd
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

TIME = "/usr/bin/time"
MiB = 1024 * 1024
RUN_TIMEOUT_S = 150
DEFAULT_CRAWLER = Path(__file__).resolve().parent.parent / "build-bench/tools/tarnwick-crawl"


def argument_parser(doc):
    """A script's parser, titled by its docstring's first line, with the --crawler option."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--crawler", type=Path,
                        default=Path(os.environ.get("TARNWICK_CRAWL", DEFAULT_CRAWLER)),
                        help="the tarnwick-crawl binary (default: build-bench/tools/tarnwick-crawl)")
    return parser


def exit_if_missing(script, programs, crawlers):
    """Ends the script (status 2) when a program is not on the PATH or a crawler and GNU time
    cannot be run."""
    missing = sorted({name for name in programs if shutil.which(name) is None})
    missing += [str(path) for path in [TIME, *crawlers] if not os.access(path, os.X_OK)]
    if missing:
        sys.exit(f"{script}: missing {', '.join(missing)} "
                 "(`make bench` installs the packages and builds tarnwick-crawl)")


# --------------------------------------------------------------------------- nginx

def free_ports(count):
    """`count` distinct ports of 127.0.0.1 that were free a moment ago."""
    probes = [socket.socket() for _ in range(count)]
    try:
        for probe in probes:
            probe.bind(("127.0.0.1", 0))
        return [probe.getsockname()[1] for probe in probes]
    finally:
        for probe in probes:
            probe.close()


def nginx_config(prefix, servers):
    """One worker, sendfile, no access log unless a server asks for one, keep-alive connections
    allowed; `servers` is the rest of the http block (its server blocks)."""
    user = ""
    if os.geteuid() == 0:  # otherwise workers drop to nobody, who cannot read the temp folder
        user = f"user {pwd.getpwuid(0).pw_name};"
    temps = "\n".join(f"  {name}_temp_path {prefix}/temp/{name};"
                      for name in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    return f"""{user}
daemon off;
worker_processes 1;
pid {prefix}/nginx.pid;
error_log {prefix}/error.log warn;
events {{ worker_connections 64; }}
http {{
  types {{ text/html html; image/jpeg jpg; application/zip zip; }}
  default_type application/octet-stream;
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
{temps}
{servers}
}}
"""


class Nginx:
    """nginx as a plain child process with its own prefix, config, pid and log paths, on
    `port_count` free ports of 127.0.0.1 (`ports`); `servers(ports)` gives its server blocks."""

    def __init__(self, prefix, port_count, servers):
        self.prefix = prefix
        self.port_count = port_count
        self.servers = servers
        self.process = None
        self.ports = None

    def start(self):
        (self.prefix / "temp").mkdir(parents=True, exist_ok=True)
        for _ in range(3):  # a free port may be taken between probe and bind
            self.ports = free_ports(self.port_count)
            conf = self.prefix / "nginx.conf"
            conf.write_text(nginx_config(self.prefix, self.servers(self.ports)))
            self.process = subprocess.Popen(
                ["nginx", "-p", str(self.prefix), "-c", str(conf), "-e", str(self.prefix / "error.log")],
                stdin=subprocess.DEVNULL, start_new_session=True)
            if self._wait_until_listening():
                return
            self.stop()
        log = self.prefix / "error.log"
        raise RuntimeError("nginx did not start:\n" + (log.read_text() if log.exists() else ""))

    def _wait_until_listening(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and self.process.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", self.ports[0]), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.05)
        return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)  # graceful: master takes its worker along
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.process = None


# --------------------------------------------------------------------------- runs

@dataclass
class Run:
    wall: float
    user: float
    system: float
    rss_mib: float
    files: dict  # relative path below the tool's save folder -> size
    observed: object = None  # what the run's observer saw, if it had one

    @property
    def cpu(self):
        return self.user + self.system


class RunFailed(Exception):
    pass


def saved_files(folder):
    return {str(p.relative_to(folder)): p.stat().st_size for p in folder.rglob("*") if p.is_file()}


def wait_for_group(command, cwd, out, err):
    """Runs command as its own process group; a timeout or an interruption ends the whole group."""
    process = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               start_new_session=True)
    try:
        return process.wait(timeout=RUN_TIMEOUT_S)
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


def timed_run(label, command, workdir, logs, save_folder, observer=None, pages_kept=False):
    """Runs command in a fresh empty folder under /usr/bin/time; returns what it cost and saved.
    Output goes to logs/LABEL.out and .err. An `observer` has mark(), called just before the
    run, and observe(run_dir, saved, out_path, err_path), called after it while its folder
    still exists, whose answer the run keeps as `observed`. `pages_kept`: the tool saves the pages it
    searched too; they are left out of what it saved."""
    os.sync()  # the previous run's write-back must not slow this one down
    run_dir = Path(tempfile.mkdtemp(prefix="run-", dir=workdir))
    timing = logs / f"{label}.time"
    if observer:
        observer.mark()
    out_path, err_path = logs / f"{label}.out", logs / f"{label}.err"
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        try:
            status = wait_for_group([TIME, "-f", "%e %U %S %M", "-o", str(timing)] + command,
                                    run_dir, out, err)
        except subprocess.TimeoutExpired:
            raise RunFailed(f"{label}: no end after {RUN_TIMEOUT_S} s: {' '.join(command)}")
    # wget's exit status 8 means some URL failed on the server side; the file check shows which.
    if status != 0 and not (command[0] in ("wget", "wget2") and status == 8):
        tail = err_path.read_text(errors="replace")[-2000:]
        raise RunFailed(f"{label}: exit status {status}: {' '.join(command)}\n{tail}")
    wall, user, system, rss_kib = timing.read_text().split()[-4:]
    saved = run_dir / save_folder
    if pages_kept:
        for page in saved.rglob("*.html"):
            page.unlink()
    run = Run(float(wall), float(user), float(system), int(rss_kib) / 1024,
              saved_files(saved) if saved.exists() else {})
    if observer:
        run.observed = observer.observe(run_dir, saved, out_path, err_path)
    shutil.rmtree(run_dir)  # keeps disk use at one run's output
    print(f"  {label:<26} {run.wall:7.2f} s wall, {len(run.files)} files", flush=True)
    return run


def alternate(runs, *cases):
    """Runs the cases turn about, `runs` times each; returns one list of results per case."""
    results = [[] for _ in cases]
    for i in range(runs):
        for side, case in enumerate(cases):
            results[side].append(case(i + 1))
    return results


def median(runs, attribute):
    return statistics.median(getattr(r, attribute) for r in runs)


def verdict(ok):
    return "PASS" if ok else "MISS"


def print_target(text, ok, value=None, form=".3f"):
    """One line of a benchmark's targets: what is aimed at, the measured figure, PASS or MISS."""
    print(f"  {text:<66}{'' if value is None else format(value, form):>7}  {verdict(ok)}")


def describe_files(files):
    return f"{len(files)} files, {sum(files.values()) / MiB:.1f} MiB"


def print_table(rows, extra_columns=()):
    """One row per case: medians of wall, CPU, user CPU and RSS, and what the first run saved;
    each extra column is (heading, format, function of a case's runs), "-" where the function
    gives None."""
    def cell(value, heading, form):
        return f"{'-' if value is None else format(value, form):>{len(heading) + 2}}"

    print(f"{'case':<34}{'wall s':>8}{'CPU s':>8}{'user s':>8}{'RSS MiB':>9}{'files':>7}"
          f"{'MiB saved':>11}" + "".join(f"{heading:>{len(heading) + 2}}" for heading, _, _ in extra_columns))
    for name, results in rows.items():
        files = results[0].files
        print(f"{name:<34}{median(results, 'wall'):8.2f}{median(results, 'cpu'):8.2f}"
              f"{median(results, 'user'):8.2f}{median(results, 'rss_mib'):9.1f}{len(files):7d}"
              f"{sum(files.values()) / MiB:11.1f}"
              + "".join(cell(value(results), heading, form) for heading, form, value in extra_columns))


# --------------------------------------------------------------------------- machine

def versions(names):
    def version(name):
        done = subprocess.run([name, "-v" if name == "nginx" else "--version"],
                              capture_output=True, text=True)
        found = re.search(r"\d+(\.\d+)+", done.stdout + done.stderr)
        return f"{name} {found.group(0) if found else '?'}"
    return "; ".join(version(name) for name in names)


def cpu_model():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


def load_average():
    return "/".join(f"{load:.1f}" for load in os.getloadavg())


def print_machine(peers, load_before):
    print()
    print(f"Machine: {os.cpu_count()} cores ({cpu_model()}), {platform.platform()}, "
          f"{datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}; load average (1/5/15 min) "
          f"{load_before} before the runs, {load_average()} after")
    if peers:
        print(f"Peers: {versions(peers)}")
