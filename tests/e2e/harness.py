"""Shared pieces of the end-to-end tests: a private Xvfb, the build's Wine
prefix, nginx and scripted servers on 127.0.0.1. Every process started here
is stopped by its id; loops are bounded."""

import hashlib
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]


def windows_road():
    """build/win32 where this host runs 32-bit Windows programs, else build/win64."""
    road = subprocess.run([REPO / "tools" / "windows-road.sh"], capture_output=True,
                          text=True, check=True).stdout.strip()
    return REPO / "build" / road


# The Windows build the tests run: ctest names it; the demo and the
# benchmarks follow the host's road.
WINDOWS_BUILD = Path(os.environ.get("QORV_WINDOWS_BUILD") or windows_road())
# Lists a program's windows and posts messages to them, inside the prefix.
WINCTL = WINDOWS_BUILD / "tests" / "wine" / "qorv-winctl.exe"
# The build's Wine prefix, or the test's own (tests/run-isolated.sh).
WINE_PREFIX = Path(os.environ.get("QORV_WINE_PREFIX") or WINDOWS_BUILD / "wine-prefix")


def wine_arch(build=WINDOWS_BUILD):
    """win64 for a build of PE32+ programs, win32 for PE32: the prefix's kind."""
    with open(build / "QorvInstall.exe", "rb") as f:
        header = f.read(4096)
    pe = int.from_bytes(header[0x3C:0x40], "little")
    machine = int.from_bytes(header[pe + 4:pe + 6], "little")
    return "win64" if machine == 0x8664 else "win32"
WM_KEYDOWN, WM_CLOSE, VK_ESCAPE = 0x100, 0x10, 0x1B


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise TimeoutError(f"nothing listens on 127.0.0.1:{port}")


def wait_until(condition, timeout, step=0.2):
    """Polls condition until it holds or timeout seconds pass; its last value."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def stop(proc, timeout=5.0):
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout)


def build_settings(*keys):
    """The values of keys (such as QORV_DEPS_PREFIX) in the build's cache."""
    values = {}
    for line in (WINDOWS_BUILD / "CMakeCache.txt").read_text().splitlines():
        for key in keys:
            if line.startswith(key + ":"):
                values[key] = line.split("=", 1)[1]
    return tuple(values[key] for key in keys)


def build_urls():
    """The two base URLs compiled into the product, from the build's cache."""
    return build_settings("QORV_RESOURCE_BASE_URL", "QORV_ACCOUNT_BASE_URL")


def url_port(url):
    host_port = url.split("://", 1)[1].split("/", 1)[0]
    return int(host_port.rsplit(":", 1)[1]) if ":" in host_port else 80


def winpath(path):
    """The Windows name of a Unix path through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def environ_display():
    """The user's display, when there is one."""
    return os.environ.get("DISPLAY") or None


class Xvfb:
    """A private X server; DISPLAY is set for the processes started after."""

    def __init__(self, size="1024x768x24"):
        self.size = size
        self.proc = None
        self.display = None

    def __enter__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", self.size, "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            self.display = ":" + f.readline().strip()
        return self

    def __exit__(self, *exc):
        stop(self.proc)

    def screenshot(self, path):
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                       check=True, timeout=30)


class Wine:
    """The build's own Wine prefix (or the test's); stop() ends every
    process in it."""

    def __init__(self, display, prefix=None):
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": str(prefix or WINE_PREFIX),
            "WINEDEBUG": "-all",
            "WINEARCH": wine_arch(),
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "DISPLAY": display,
        })
        # Requests go straight to the local servers.
        for name in ("http_proxy", "HTTP_PROXY", "no_proxy", "NO_PROXY"):
            self.env.pop(name, None)
        self.prefix = Path(self.env["WINEPREFIX"])
        if not (self.prefix / "system.reg").exists():
            subprocess.run(["wineboot", "-i"], env=self.env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)
        self.keep_user_folders_inside()
        self.warm()

    def keep_user_folders_inside(self):
        """A new prefix links Desktop and the other user folders to the host's
        home: the shortcuts made here would land there, shared by every
        prefix on the machine. Real folders keep them in this prefix."""
        for users in (self.prefix / "drive_c" / "users").iterdir():
            for entry in users.iterdir() if users.is_dir() else ():
                if entry.is_symlink():
                    entry.unlink()
                    entry.mkdir()

    def warm(self):
        """One wineserver and one set of Wine's own processes for the runs
        that follow, instead of a start-up per run; started with their output
        discarded, so they never hold the pipes a run's output is read from.
        stop() ends them."""
        # Exits non-zero when the prefix's server already runs, which is fine.
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def local_appdata(self):
        user = os.environ.get("USER") or "root"
        return self.prefix / "drive_c" / "users" / user / "AppData" / "Local"

    def desktop(self):
        user = os.environ.get("USER") or "root"
        return self.prefix / "drive_c" / "users" / user / "Desktop"

    def start(self, program, *args, stdout=subprocess.PIPE):
        return subprocess.Popen(["wine", str(program), *map(str, args)], env=self.env,
                                stdout=stdout, stderr=subprocess.DEVNULL)

    def run(self, program, *args, timeout=120):
        return subprocess.run(["wine", str(program), *map(str, args)], env=self.env,
                              capture_output=True, timeout=timeout)

    def cmd(self, *args, timeout=60):
        """A Windows command such as reg, run in the prefix; returns stdout."""
        return subprocess.run(["wine", *args], env=self.env, capture_output=True,
                              timeout=timeout).stdout

    USER_FOLDERS = ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                    "User Shell Folders")

    def set_local_appdata(self, path="%USERPROFILE%\\AppData\\Local"):
        """Points the user's local application-data folder at the Windows
        path path; by default back at the prefix's own."""
        self.cmd("reg", "add", self.USER_FOLDERS, "/v", "Local AppData", "/t", "REG_EXPAND_SZ",
                 "/d", path, "/f")

    def uninstall_command(self):
        """The installer's registered UninstallString; None without the key."""
        key = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QorvInstall"
        listing = self.cmd("reg", "query", key, "/v", "UninstallString").decode(errors="replace")
        for line in listing.splitlines():
            if "UninstallString" in line and "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return None

    def use_cjk_dialog_font(self):
        """Wine's dialog font has no Chinese glyphs; point it at the CJK font."""
        key = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes"
        for face in ("MS Shell Dlg", "MS Shell Dlg 2"):
            self.cmd("reg", "add", key, "/v", face, "/d", "WenQuanYi Micro Hei", "/f")

    def processes(self):
        """Image names of the processes running in the prefix, lower case.
        (Wine's tasklist lists nothing.)"""
        listing = self.run(WINCTL, "ps", timeout=60).stdout.decode(errors="replace")
        return {line.strip().lower() for line in listing.splitlines() if line.strip()}

    def windows(self, exe_name):
        """The visible top-level windows of the program named exe_name."""
        out = self.run(WINCTL, "list", exe_name, timeout=60).stdout.decode()
        windows = []
        for line in out.splitlines():
            hwnd, left, top, right, bottom, exstyle, owner = line.split()
            windows.append({"hwnd": hwnd, "rect": tuple(map(int, (left, top, right, bottom))),
                            "exstyle": int(exstyle, 16), "owner": owner})
        return windows

    def texts(self, hwnd):
        """{control ID: text} of the window's child controls."""
        out = self.run(WINCTL, "texts", hwnd, timeout=60).stdout.decode("utf-8", "replace")
        texts = {}
        for line in out.splitlines():
            control, _, text = line.partition(" ")
            texts[int(control)] = text
        return texts

    def post(self, hwnd, message, wparam=0):
        self.run(WINCTL, "post", hwnd, hex(message), hex(wparam), timeout=60)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # The current user's trusted roots in the prefix's registry, which Wine's
    # certificate chains consult beside the host's roots; a test CA goes
    # there, never into the host's store.
    USER_ROOTS = "HKCU\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"

    def trust_root(self, ca):
        """Trusts the TestCa ca for the programs run in this prefix."""
        der = ca.der()
        # A serialised certificate: property 32 (the encoded certificate),
        # under the SHA-1 of its encoding.
        blob = (32).to_bytes(4, "little") + (1).to_bytes(4, "little") + \
            len(der).to_bytes(4, "little") + der
        self.cmd("reg", "add", self.USER_ROOTS + ca.thumbprint(), "/v", "Blob", "/t",
                 "REG_BINARY", "/d", blob.hex().upper(), "/f")

    def distrust_root(self, ca):
        self.cmd("reg", "delete", self.USER_ROOTS + ca.thumbprint(), "/f")


class TestCa:
    """A throwaway certificate authority made with openssl in folder: the
    certificates it issues live and die with the test that made them."""

    def __init__(self, folder, name="QorvInstall Test CA"):
        self.dir = Path(folder)
        self.dir.mkdir(parents=True, exist_ok=True)
        self.cert = self.dir / "ca.pem"
        self.key = self.dir / "ca.key"
        self._serial = 0
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key,
                "-out", self.cert, "-days", "2", "-subj", "/CN=" + name,
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def der(self):
        return openssl("x509", "-in", self.cert, "-outform", "DER")

    def thumbprint(self):
        return hashlib.sha1(self.der()).hexdigest().upper()

    def issue(self, name, host=None, days=2, usage="serverAuth"):
        """A key and certificate for name (days < 0: already expired), for
        the TLS server host (a DNS name or an IP address) or, with usage
        "codeSigning", for signing programs. Returns (certificate, key);
        the certificate file carries the CA's certificate after its own."""
        self._serial += 1
        base = self.dir / f"{self._serial}"
        key, csr, ext = base.with_suffix(".key"), base.with_suffix(".csr"), base.with_suffix(".ext")
        cert, chain = base.with_suffix(".crt"), base.with_suffix(".pem")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
                "-subj", "/CN=" + name)
        lines = [f"extendedKeyUsage={usage}", "basicConstraints=CA:FALSE"]
        if host:
            names = f"DNS:{host}"
            if host.replace(".", "").isdigit():
                # Wine matches a server's name against the DNS names only.
                names = f"IP:{host},{names}"
            lines.append(f"subjectAltName={names}")
        ext.write_text("\n".join(lines) + "\n")
        openssl("x509", "-req", "-in", csr, "-CA", self.cert, "-CAkey", self.key,
                "-set_serial", str(self._serial), "-days", str(days), "-extfile", ext,
                "-out", cert)
        chain.write_bytes(cert.read_bytes() + self.cert.read_bytes())
        return chain, key


def openssl(*args):
    return subprocess.run(["openssl", *map(str, args)], check=True, capture_output=True,
                          timeout=60).stdout


def start_nginx(folder, http):
    """nginx with its files in folder and http as its http block's own
    lines, running until stopped; the log format "bytes" has the status,
    then $body_bytes_sent (as nginx's default format) and $bytes_sent."""
    conf = folder / "nginx.conf"
    # As root, nginx's workers would drop to an account that cannot read
    # the private temporary folders the packages are made in.
    user = "user root;" if os.geteuid() == 0 else ""
    # At info level the log tells which connections closed before asking
    # anything: what a client that refuses the certificate does.
    conf.write_text(f"""
{user}
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/error.log info;
events {{ worker_connections 512; }}
http {{
    log_format bytes '$remote_addr [$time_local] "$request" $status $body_bytes_sent $bytes_sent '
                     '"$http_range"';
    client_body_temp_path {folder};
    proxy_temp_path {folder};
    fastcgi_temp_path {folder};
    uwsgi_temp_path {folder};
    scgi_temp_path {folder};
    {http}
}}
""")
    return subprocess.Popen(["nginx", "-c", str(conf), "-p", str(folder), "-g", "daemon off;"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Nginx:
    """nginx serving root on 127.0.0.1:port; limit_rate throttles bodies.
    With tls=(certificate, key) it serves HTTPS; with proxy=(port, backend,
    tls) a second HTTPS server on port passes every request on to the
    plain HTTP server at 127.0.0.1:backend. max_ranges=0 refuses range
    requests (whole bodies only)."""

    def __init__(self, root, port, limit_rate=None, tls=None, proxy=None, max_ranges=None):
        self.root = Path(root)
        self.port = port
        self.limit_rate = limit_rate
        self.tls = tls
        self.proxy = proxy
        self.max_ranges = max_ranges
        self.dir = Path(tempfile.mkdtemp(prefix="qorv-nginx-"))
        self.access_log = self.dir / "access.log"
        self.proc = None

    def __enter__(self):
        rate = f"limit_rate {self.limit_rate};" if self.limit_rate else ""
        if self.max_ranges is not None:
            rate += f" max_ranges {self.max_ranges};"
        listen = f"listen 127.0.0.1:{self.port}"
        if self.tls:
            listen += f" ssl; ssl_certificate {self.tls[0]}; ssl_certificate_key {self.tls[1]}"
        proxy = ""
        if self.proxy:
            port, backend, (cert, key) = self.proxy
            proxy = f"""server {{
        listen 127.0.0.1:{port} ssl; ssl_certificate {cert}; ssl_certificate_key {key};
        access_log {self.dir}/proxy.log;
        location / {{ proxy_pass http://127.0.0.1:{backend}; }}
    }}"""
        self.proc = start_nginx(self.dir, f"""
    access_log {self.access_log} bytes;
    types {{ application/zip zip; text/plain ver; application/json json; }}
    server {{
        {listen};
        location /rc/ {{ alias {self.root}/; {rate} }}
    }}
    {proxy}""")
        wait_for_port(self.port)
        if self.proxy:
            wait_for_port(self.proxy[0])
        return self

    def requests(self):
        """The request lines served so far, as "METHOD /path?query"."""
        if not self.access_log.exists():
            return []
        lines = []
        for line in self.access_log.read_text().splitlines():
            quoted = line.split('"')
            if len(quoted) > 1:
                lines.append(quoted[1].rsplit(" ", 1)[0])
        return lines

    def bytes_sent(self, path, body=False):
        """Bytes sent in answers to requests for path: headers included, or
        with body the bodies alone."""
        total = 0
        for line in self.access_log.read_text().splitlines():
            quoted = line.split('"')
            if len(quoted) > 2 and quoted[1].split(" ")[1].split("?", 1)[0] == path:
                total += int(quoted[2].split()[1 if body else 2])
        return total

    def closed_without_request(self, port):
        """How many connections to port ended before a request came."""
        log = self.dir / "error.log"
        if not log.exists():
            return 0
        return sum(1 for line in log.read_text().splitlines()
                   if "closed connection while waiting for request" in line
                   and f"server: 127.0.0.1:{port}" in line)

    def __exit__(self, *exc):
        stop(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)


class Edge:
    """The shipped edge (tools/cdn/edge.conf) on 127.0.0.1:port in front of
    the origin on 127.0.0.1:origin_port, with a cache of its own. With
    default_key the packages are keyed as nginx keys by default, the query
    included (the slice still in the key, as the slices need)."""

    def __init__(self, port, origin_port, default_key=False):
        self.port = port
        self.origin_port = origin_port
        self.default_key = default_key
        self.dir = Path(tempfile.mkdtemp(prefix="qorv-edge-"))
        self.cache = self.dir / "cache"
        self.access_log = self.dir / "access.log"
        self.proc = None

    def __enter__(self):
        edge = (REPO / "tools" / "cdn" / "edge.conf").read_text()
        for name, value in (("@LISTEN@", f"127.0.0.1:{self.port}"),
                            ("@ORIGIN@", f"127.0.0.1:{self.origin_port}"),
                            ("@CACHE_PATH@", str(self.cache))):
            edge = edge.replace(name, value)
        if self.default_key:
            edge = edge.replace("$scheme$host$uri$slice_range", "$scheme$proxy_host$request_uri$slice_range")
        (self.dir / "edge.conf").write_text(edge)
        self.proc = start_nginx(self.dir, f"access_log {self.access_log} bytes;\n"
                                          f"    include {self.dir}/edge.conf;")
        wait_for_port(self.port)
        return self

    def purge(self, *paths):
        """Drops every cached piece of the files at paths (such as
        /rc/pkg/pkg.ver), as a CDN's purge does: each cache file names its
        key in a "KEY: " line, and nginx takes a missing file for a miss."""
        for item in self.cache.rglob("*"):
            if not item.is_file():
                continue
            with open(item, "rb") as f:
                head = f.read(4096)
            key = head.split(b"\nKEY: ", 1)[-1].split(b"\n", 1)[0].decode(errors="replace")
            if any(path in key for path in paths):
                item.unlink()

    def __exit__(self, *exc):
        stop(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)
