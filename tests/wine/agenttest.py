"""An installed product with its update agent, for the agent's tests.

    with Product(workdir) as p:          # nginx on 127.0.0.1 serves p.srv
        p.release(version=101)           # Update.exe (test engine) + Product.info
        app = p.start_program()          # testwindows as the installed program
        p.start_agent()                  # plain agent -> X_ copy, client registered
        p.command(31, 2)                 # agent command through message 1125
        p.wait_report()                  # the update's engine ran
        p.stop_agent()

The install folder holds a blank in its name, so every path the agent puts
on a command line must be quoted. The ORIGINAL file's dialog texts are short
markers (s11 = "ANNOUNCE PROG_NAME", ...) that tests look for in the boxes.
"""
import pathlib
import re
import shutil
import time

import winelib
from guidriver import Driver
from httpservers import Nginx
from proctest import App
from stubtest import Setup, run_stub
from winelib import exe, start, wait_until, winpath

TOKEN = "PRODUCT-1"
AGENT = "Agent.exe"
X_CLASS = ".AutoUpdate.X_Agent"

TEXTS = {
    "s2": "NO-CONNECTION", "s21": "NOTHING-TO-DO", "s22": "CHECK-PROG_NAME?", "s23": "-ONLINE", "s24": "-NOW",
    "s11": "ANNOUNCE-PROG_NAME", "s12": "-S12", "s13": "-S13", "s18": "-S18", "s19": "-S19",
    "s14": "INSTALL-PROG_NAME?", "s20": "INSTALLING-PROG_NAME", "s15": "CLOSE-PROG_NAME",
    "s16": "FINISHED-PROG_NAME", "s17": "-RESTART?",
}


def ini_text(sections):
    out = []
    for name, keys in sections.items():
        out.append(f"[{name}]")
        out += [f"{k}={v}" for k, v in keys.items()]
    return "\r\n".join(out) + "\r\n"


def read_ini(path):
    data, section = {}, None
    if not pathlib.Path(path).exists():
        return data
    raw = pathlib.Path(path).read_bytes()
    text = raw.decode("utf-16") if raw[:2] in (b"\xff\xfe", b"\xfe\xff") else raw.decode("latin-1")
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = data.setdefault(line[1:-1], {})
        elif "=" in line and section is not None:
            k, _, v = line.partition("=")
            section[k.strip()] = v.strip()
    return data


class Product:
    def __init__(self, workdir, agent_keys=None, install_name="My App"):
        self.work = pathlib.Path(workdir)
        self.install = self.work / install_name
        self.install.mkdir(parents=True, exist_ok=True)
        self.nginx = Nginx(self.work)
        self.agent_keys = agent_keys or {}
        self.program = self.install / "Product.exe"
        # The test engine reads its command line through the ANSI functions.
        self.report = (self.install if install_name.isascii() else self.work) / "engine-report.txt"
        self.notify_out = self.work / "notify.txt"
        self.client = None
        self.apps = []

    # ---- set-up ----
    def __enter__(self):
        self.nginx.start()
        self.srv = self.nginx.root / "upd"
        self.srv.mkdir()
        self.base = self.nginx.url("upd")
        s = Setup(self.install, AGENT)
        s.package.update({"is_update_agent": 1, "agent_exe": AGENT, "info_file": "Product.info",
                          "update_url": self.base, "token": TOKEN, "debug_log": 1})
        if "update_public_key" not in self.agent_keys:
            s.package["allow_unsigned"] = 1
        s.package.update(self.agent_keys)
        self.agent = s.build()
        shutil.copyfile(exe("testwindows.exe"), self.program)
        self.write_original()
        return self

    def __exit__(self, *a):
        try:
            self.stop_agent()
        finally:
            for app in self.apps:
                app.stop()
            if self.client and self.client.poll() is None:
                self.client.kill()
            self.nginx.stop()

    def write_original(self, version=100, setup=None, texts=None):
        o = {"OriginalSetup": {"VersionOriginal": version, "ProbeSecondsInterval": -1, "ProgramName": "Product",
                               "Stamp": 1},
             "Directories": {"TargetDir": winpath(self.install)},
             "MsgBox": {"Error": "Error", "Confirm": "Confirm", "Attention": "Attention"},
             "AutoUpdate": dict(TEXTS, **(texts or {}))}
        o["OriginalSetup"].update(setup or {})
        text = ini_text(o)
        try:
            data = text.encode("latin-1")
        except UnicodeEncodeError:
            # What an engine writes for an install folder outside the ANSI code page.
            data = text.encode("utf-16")
        (self.install / "Product.original").write_bytes(data)

    def original(self):
        return read_ini(self.install / "Product.original")

    def build_update(self, name="Update.exe", token=TOKEN, engine_args=""):
        """An update package whose engine (the test engine) reports into the install folder."""
        s = Setup(self.srv, name)
        s.package["token"] = token
        if self.agent_keys:
            # A keyed agent takes only an update that carries its own trust.
            s.package["updates_agent"] = str(self.agent)
        args = f'/ZT_REPORT="{winpath(self.report)}" {engine_args}'.strip()
        s.add_file(exe("testengine.exe"), name="Engine.exe", engine=args)
        return s.build()

    def release(self, version=101, stamp=2, update="Update.exe", size=None, method="Using WM_CLOSE", restart=1,
                extra=None, general=None, inform=None, build=True, token=TOKEN, engine_args=""):
        if build and update:
            path = self.build_update(update, token=token, engine_args=engine_args)
            size = path.stat().st_size if size is None else size
        new = {"DownloadURL_UPDATE": self.base, "NameOfUpdateFile": update or "", "SizeOfUpdateFile": size or 0,
               "VersionNew": version, "Stamp": stamp, "ShutDownMethod": method, "RestartProcess": restart,
               "RunningProcess": "<InstallDir>Product.exe", "ProgramName": "Product"}
        new.update(extra or {})
        sections = {"NewSetup": new}
        if general:
            sections["General"] = general
        if inform:
            sections["AutoInform"] = inform
        (self.srv / "Product.info").write_text(ini_text(sections), encoding="latin-1")

    def announce(self, body, link="", version=101, stamp=2, token=TOKEN, name="News.txt", size=None):
        """An inform file made by the packer and an INFO file that announces it."""
        import subprocess
        out = self.srv / name
        r = subprocess.run([str(winelib.native("packer")), "inform", str(out), "--token", token, "--body", body],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        assert r.returncode == 0, r.stderr
        size = out.stat().st_size if size is None else size
        self.release(version=version, stamp=stamp, update="", build=False, general={"AutoInform": 1},
                     inform={"DownloadURL_INFORM": link, "NameOfInformFile": name, "SizeOfInformFile": size,
                             "AutoInformW": 420, "AutoInformH": 300})

    # ---- programs ----
    def start_program(self, *extra):
        app = App(self.program, ["visible,title=Product,class=ZProduct"], extra=list(extra), tag="product",
                  lifetime=600000, files_dir=self.install if self.install.name.isascii() else self.work)
        self.apps.append(app)
        return app

    def start_agent(self, *args, client=True, env=None):
        """Starts the plain agent (which starts its X_ copy); with client, a
        notification client registers through it and records the pairs."""
        if client:
            if self.notify_out.exists():
                self.notify_out.unlink()
            self.client = start([exe("notifyclient.exe"), "/msg=32777", "/out=" + winpath(self.notify_out),
                                 "/timeout=600000", "/run", winpath(self.agent)] + list(args), env=env)
            try:
                wait_until(lambda: self.notify_out.exists() and "51 1125" in self.notify_out.read_text(), 60,
                           what="the client's registration")
            except AssertionError as e:
                raise AssertionError(f"{e}: client {winelib.explain(self.client)}; pairs {self.pairs()}; "
                                     f"logs:\n{self.logs()}") from None
        else:
            run_stub(self.agent, *args)
        return wait_until(self.x_windows, 30, what="the X_ copy's window")[0]

    def x_windows(self):
        """(hwnd, pid) of each X_ copy window."""
        out = winelib.run([exe("guidriver.exe"), "windows"], expect_output=True).stdout
        rows = []
        for line in out.splitlines():
            parts = line.split("\t")
            if len(parts) >= 4 and parts[1] == X_CLASS:
                rows.append((parts[0], int(parts[3][4:])))
        return rows

    def command(self, command, value=0):
        """Sends agent command (message 1125) to the X_ copy and returns its answer."""
        # The window list comes from another Wine process, whose start Wine
        # now and then fails: an empty list is asked again, briefly.
        hwnd = wait_until(self.x_windows, 15, what="the X_ copy's window")[0][0]
        r = winelib.run([exe("guidriver.exe"), "sendto", hwnd, 1125, command, value], expect_output=True)
        m = re.search(r"result=(-?\d+)", r.stdout)
        if not m:
            raise AssertionError(f"no answer to command {command}: {r.stdout} {r.stderr}")
        return int(m.group(1))

    def stop_agent(self):
        if self.x_windows():
            run_stub(self.agent, "/STOP=0")
            try:
                wait_until(lambda: not self.x_windows(), 20, what="the X_ copy to end")
            except AssertionError:
                # A copy inside a box takes no ticks, so no countdown either.
                for _, pid in self.x_windows():
                    winelib.run([exe("proctool.exe"), "terminate", winpath(self.install / "X_Agent.exe"), 1])
                raise

    # ---- observations ----
    def pairs(self):
        if not self.notify_out.exists():
            return []
        return [tuple(map(int, l.split())) for l in self.notify_out.read_text().splitlines() if l.strip()]

    def logs(self):
        """Every log file of the install folder, for a failure's message."""
        out = []
        for f in sorted(self.install.glob("*.log")):
            out.append(f"--- {f.name}\n" + f.read_text(encoding="latin-1")[-4000:])
        return "\n".join(out) or "(no log file)"

    def log(self):
        p = self.install / "X_Agent.log"
        return p.read_text(encoding="latin-1") if p.exists() else ""

    def wait_log(self, needle, timeout=60):
        return wait_until(lambda: needle in self.log(), timeout, what=repr(needle))

    def engine_report(self):
        if not self.report.exists():
            return None
        return dict(l.split("=", 1) for l in self.report.read_text(encoding="latin-1").splitlines() if "=" in l)

    def program_running(self):
        out = winelib.run([exe("proctool.exe"), "running", winpath(self.program)], expect_output=True).stdout.strip()
        return out == "TRUE"


def set_test_mode(folder, date=None):
    key = "HKCU\\Software\\Vindraco\\Zelkan\\AutoUpdate"
    from stubtest import reg_set
    reg_set(key, "TestMode", "1")
    reg_set(key, "TestModeDate", date or time.strftime("%d-%b-%Y").upper())
    reg_set(key, "TestModeURL", winpath(folder))


def clear_test_mode():
    from stubtest import reg_delete
    for v in ("TestMode", "TestModeDate", "TestModeURL"):
        reg_delete("HKCU\\Software\\Vindraco\\Zelkan\\AutoUpdate", v)


def driver():
    return Driver(timeout_ms=30000)
