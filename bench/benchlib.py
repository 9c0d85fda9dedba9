"""Shared pieces of the benchmark scripts: paths, sample sheets, the FTP server,
medians and the README section each benchmark writes."""

import ftplib
import os
import platform
import shutil
import socket
import tempfile
import re
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build")
README = os.path.join(ROOT, "README.md")


def generate_sheets(folder, count, long_names=False):
    """Writes count sample stations below folder; returns the GSID list file."""
    listing = folder + ".txt"
    args = [os.path.join(BUILD, "tools/sheetgen/sheetgen"), folder, str(count), listing]
    if long_names:
        args.append("long")
    subprocess.run(args, check=True)
    # Warm the page cache, so the first measured run reads like the others.
    for edition in ("PDF Single Sheet", "PDF Metric Sheet"):
        directory = os.path.join(folder, edition)
        for name in os.listdir(directory):
            with open(os.path.join(directory, name), "rb") as f:
                f.read()
    return listing


class FtpServer:
    """A read-only anonymous pyftpdlib server on 127.0.0.1 serving root; with
    delay_ms, every reply is held back that long (a server one round trip away); with
    lose, pyftpdlib 1.5.7's own active mode, which loses a data connection now and
    then. It picks its own port and says which."""

    def __init__(self, root, delay_ms=0, lose=False):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(ROOT, "tests/support/ftpserver.py"), root,
             "--delay-ms", str(delay_ms)] + (["--lose-data-connections"] if lose else []),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("port "):
            self.stop()
            sys.exit("the FTP server did not start")
        self.port = int(line.split()[1])

    @property
    def host(self):
        return "127.0.0.1:%d" % self.port

    def stop(self):
        self.process.terminate()
        self.process.wait()


class VsftpdServer:
    """vsftpd on 127.0.0.1 serving root to anonymous users, read-only, as an
    administrator would configure it; its configuration and log in a folder of its
    own. vsftpd must be started as root. It says nothing once it listens: an
    anonymous log-in is tried until one succeeds."""

    def __init__(self, root, max_per_ip=0):
        self.dir = tempfile.mkdtemp(prefix="vsftpd-")
        os.mkdir(os.path.join(self.dir, "empty"))
        # The session reads the root as user ftp: it must be readable, never writable.
        os.chmod(root, os.stat(root).st_mode | 0o005)
        for attempt in range(5):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                self.port = probe.getsockname()[1]
            conf = os.path.join(self.dir, "vsftpd.conf")
            with open(conf, "w") as f:
                f.write("listen=YES\nbackground=NO\nlisten_address=127.0.0.1\n"
                        "listen_port=%d\nanonymous_enable=YES\nlocal_enable=NO\n"
                        "write_enable=NO\nanon_root=%s\nsecure_chroot_dir=%s\n"
                        "max_per_ip=%d\n" % (self.port, root, os.path.join(self.dir, "empty"),
                                              max_per_ip))
            self.process = subprocess.Popen(["/usr/sbin/vsftpd", conf], stdin=subprocess.PIPE,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if self._logs_in():
                return
            self.process.kill()
            self.process.wait()
        sys.exit("vsftpd did not start")

    def _logs_in(self):
        while self.process.poll() is None:
            try:
                ftp = ftplib.FTP()
                ftp.connect("127.0.0.1", self.port, timeout=5)
                ftp.login()
                ftp.quit()
                return True
            except ConnectionRefusedError:
                continue
            except (OSError, ftplib.Error):
                return False
        return False

    @property
    def host(self):
        return "127.0.0.1:%d" % self.port

    def stop(self):
        # Its sessions are processes of their own: the whole group of its children.
        subprocess.run(["pkill", "-KILL", "-P", str(self.process.pid)], check=False)
        self.process.kill()
        self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


def make_certificates(folder):
    """A certificate authority and a server certificate for 127.0.0.1 it signed, as the
    tests make them (tests/support/TestCertificates); returns (ca, cert, key)."""
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n")
    for step in (["req", "-x509"] + ec + ["-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                                          "-subj", "/CN=Brindlewick bench authority"],
                 ["req"] + ec + ["-keyout", "server.key", "-out", "server.csr",
                                 "-subj", "/CN=127.0.0.1"],
                 ["x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile",
                  "server.ext"]):
        subprocess.run(["openssl"] + step, cwd=folder, check=True, capture_output=True)
    return tuple(os.path.join(folder, name) for name in ("ca.pem", "server.pem", "server.key"))


class NginxServer:
    """nginx serving root at https://127.0.0.1:<port>/geod/ over TLS and HTTP/2, as the
    tests run it (tests/support/NginxServer): no root needed, no master process, its
    configuration and logs in a folder of its own. Ready once its pid file is there."""

    def __init__(self, root, cert, key):
        self.dir = tempfile.mkdtemp(prefix="nginx-")
        for attempt in range(5):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                self.port = probe.getsockname()[1]
            conf = os.path.join(self.dir, "nginx.conf")
            temps = "".join("    %s_temp_path %s/%s;\n" % (t, self.dir, t)
                            for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
            with open(conf, "w") as f:
                f.write("daemon off;\nmaster_process off;\npid %s/nginx.pid;\n"
                        "events { worker_connections 1024; }\nhttp {\n%s    access_log off;\n"
                        "    server {\n        listen 127.0.0.1:%d ssl http2;\n"
                        "        ssl_certificate %s;\n        ssl_certificate_key %s;\n"
                        "        location /geod/ { alias %s/; }\n    }\n}\n"
                        % (self.dir, temps, self.port, cert, key, root.rstrip("/")))
            self.process = subprocess.Popen(
                ["/usr/sbin/nginx", "-e", os.path.join(self.dir, "error.log"), "-p", self.dir,
                 "-c", conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            pid = os.path.join(self.dir, "nginx.pid")
            while self.process.poll() is None and not os.path.exists(pid):
                time.sleep(0.01)
            if self.process.poll() is None:
                return
        sys.exit("nginx did not start")

    @property
    def url(self):
        return "https://127.0.0.1:%d/geod/" % self.port

    def stop(self):
        self.process.kill()
        self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


class DelayProxy:
    """bench/delayproxy.py in front of a port on 127.0.0.1: every chunk held back
    delay_ms each way."""

    def __init__(self, port, delay_ms):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(ROOT, "bench/delayproxy.py"), str(port),
             str(delay_ms)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("port "):
            self.stop()
            sys.exit("the delaying proxy did not start")
        self.port = int(line.split()[1])

    def stop(self):
        self.process.terminate()
        self.process.wait()


def median(values):
    return statistics.median(values)


def machine():
    """One line describing the machine the figures come from."""
    cpu = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = re.sub(r"\s+", " ", line.split(":", 1)[1].strip())
                break
    with open("/proc/meminfo") as f:
        mem_kb = int(f.readline().split()[1])
    distro = "Linux"
    try:
        with open("/etc/os-release") as f:
            for line in f:
                if line.startswith("PRETTY_NAME="):
                    distro = line.split("=", 1)[1].strip().strip('"')
    except OSError:
        pass
    return "%s, %d cores, %.0f GiB, %s, %s" % (
        cpu, os.cpu_count(), mem_kb / 1024 / 1024, distro, time.strftime("%Y-%m-%d"))


def write_readme_block(name, lines):
    """Replaces the README's block for this benchmark, between its two markers,
    adding it at the end of the Performance section when it is not there yet."""
    begin, end = "<!-- %s: begin -->" % name, "<!-- %s: end -->" % name
    block = "\n".join([begin] + lines + [end])
    with open(README) as f:
        text = f.read()
    if begin in text and end in text:
        text = text[:text.index(begin)] + block + text[text.index(end) + len(end):]
    else:
        if "\n## Performance\n" not in text:
            text = text.rstrip("\n") + "\n\n## Performance\n"
        text = text.rstrip("\n") + "\n\n" + block + "\n"
    with open(README, "w") as f:
        f.write(text)
