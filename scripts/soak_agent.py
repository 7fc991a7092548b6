"""The agent's soak run (see soak-agent.sh): one keyed X_ copy, checks one
after the other, each against a fault of the server or a good release.

    soak_agent.py <checks> <idle seconds>

The environment names the programs and the prefix as for the Wine tests
(ZS_WIN64_BIN, ZS_NATIVE_BIN, ZS_WINE_WORK, ZS_WINEPREFIX)."""
import collections
import os
import pathlib
import re
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "wine"))

import winelib  # noqa: E402
from agenttest import Product, driver  # noqa: E402
from faultserver import FaultServer  # noqa: E402
from signlib import keygen, publish  # noqa: E402
from stubtest import Setup, setup_folders  # noqa: E402
from winelib import exe, fresh_dir, wait_until  # noqa: E402

# One round; every round holds one good release. The decision each fault
# must end in: 0 nothing to offer (no or no trusted INFO file), 6 offered
# (then the update itself fails, or with "good" is installed).
ROUND = [("refused", 0), ("404", 0), ("500", 0), ("stall", 0), ("short-info", 0), ("signature", 0),
         ("good", 6), ("token", 6), ("short-package", 6)]
CHECK_TIMEOUT = 120  # a check that takes longer is a hang


class Soak:
    def __init__(self, p, fs, priv):
        self.p, self.fs, self.priv = p, fs, priv
        self.port = fs.port
        self.log_at = 0
        self.serial = 0
        self.version = 100
        self.package_time = int(time.time()) - 3600

    def new_log(self):
        """The log lines written since the last call."""
        path = self.p.install / "X_Agent.log"
        with open(path, "rb") as f:
            f.seek(self.log_at)
            data = f.read()
        self.log_at += len(data)
        return data.decode("latin-1")

    def release(self, update, stamp):
        """A signed INFO file offering the next version with this package."""
        p = self.p
        size = (p.srv / update).stat().st_size
        p.release(version=self.version + 1, stamp=stamp, update=update, size=size, build=False,
                  extra={"DownloadURL_UPDATE": self.fs.url("upd")})
        self.serial += 1
        publish(self.priv, p.srv / "Product.info", update=p.srv / update, extra=["--serial", str(self.serial)])
        for name in ("Product.info", "Product.info.sig"):
            self.fs.add("upd/" + name, (p.srv / name).read_bytes())
        # A package keeps its date, as on a real server: a cut download resumes.
        self.fs.add("upd/" + update, (p.srv / update).read_bytes(), mtime=self.package_time)

    def arrange(self, fault, stamp):
        fs = self.fs
        self.release({"good": "Update.exe", "token": "Other.exe"}.get(fault, "Update.exe"), stamp)
        if fault == "refused":
            fs.stop()
        elif fault == "404":
            fs.set_mode("upd/Product.info", "missing")
        elif fault == "500":
            fs.set_mode("upd/Product.info", "status:500")
        elif fault == "stall":
            fs.set_mode("upd/Product.info", "stall:20")
        elif fault == "short-info":
            fs.set_mode("upd/Product.info", "cut:40")
        elif fault == "signature":
            sig = bytearray(fs.files["upd/Product.info.sig"][0])
            sig[10] = ord("A") if sig[10] != ord("A") else ord("B")
            fs.add("upd/Product.info.sig", bytes(sig))
        elif fault == "short-package":
            fs.set_mode("upd/Update.exe", "cut:5000")

    def restore(self, fault):
        if fault == "refused":
            self.fs.start(self.port)

    def check(self, fault):
        """One ordered check; returns (decision, installed) from the log."""
        p = self.p
        p.command(31, 1)
        end = time.time() + CHECK_TIMEOUT
        text = ""
        while time.time() < end:
            text += self.new_log()
            m = re.search(r"GetOkToPerformAU = (\d)", text)
            done = m and (m.group(1) != "6" or "PerformAutoUpdate() - END" in text)
            if fault == "token" and m and not done and driver().exists("ZMsgBox"):
                driver().wait("ZMsgBox").press("OK")  # "Bad Secret Token!" waits for its OK
            if done and p.command(7) == 0:
                return int(m.group(1)), "Result=TRUE" in text
            time.sleep(0.3)
        raise AssertionError(f"check with fault {fault!r} did not end within {CHECK_TIMEOUT} s:\n{text[-3000:]}")


def unix_pid(name):
    """The Linux process behind our prefix's Windows process of that name."""
    prefix = f"WINEPREFIX={winelib.PREFIX}".encode()
    for d in pathlib.Path("/proc").iterdir():
        try:
            if name.encode() in (d / "cmdline").read_bytes() and prefix in (d / "environ").read_bytes().split(b"\0"):
                return int(d.name)
        except (OSError, ValueError):
            continue
    return None


def proc_info(pid, linux_pid):
    """Working set and handles as Windows reports them; CPU time from Linux
    (Wine's figure for another process is not dependable)."""
    out = winelib.run([exe("proctool.exe"), "procinfo", pid], expect_output=True).stdout
    info = {k: int(v) for k, v in re.findall(r"(\w+)=(-?\d+)", out)}
    fields = pathlib.Path(f"/proc/{linux_pid}/stat").read_text().rsplit(")", 1)[1].split()
    info["cpu_ms"] = (int(fields[11]) + int(fields[12])) * 1000 // os.sysconf("SC_CLK_TCK")
    return info


def show(label, info):
    print(f"  {label:<22} working set {info['workingset'] / 1048576:7.1f} MiB   handles {info['handles']:5d}   "
          f"CPU {info['cpu_ms'] / 1000:7.2f} s", flush=True)


def main():
    wanted, idle_s = int(sys.argv[1]), int(sys.argv[2])
    w = fresh_dir("soak")
    priv, pub = keygen(w)
    fs = FaultServer()
    fs.stall_limit = 5.0  # a stall ends after 5 s with the connection dropped
    fs.start()
    keys = {"update_url": fs.url("upd"), "update_public_key": str(pub)}
    try:
        with Product(w / "product", agent_keys=keys) as p:
            p.build_update("Update.exe")
            # Another product's package: refused at its token, before anything else.
            other = Setup(p.srv, "Other.exe")
            other.package["token"] = "OTHER-1"
            other.add_file(exe("testengine.exe"), name="Engine.exe", engine="/ZT_EXIT=0")
            other.build()
            p.write_original(setup={"ReAskSecondsInterval": 0})
            _, pid = p.start_agent()
            assert p.command(30, 1000000) == 0  # stays: no hand-over after an update
            soak = Soak(p, fs, priv)
            soak.new_log()
            linux_pid = unix_pid("X_Agent.exe")
            assert linux_pid, "no Linux process for the X_ copy"
            start = proc_info(pid, linux_pid)
            met = collections.Counter()
            wrong = []
            samples = []
            t0 = time.time()
            for i in range(wanted):
                fault, want = ROUND[i % len(ROUND)]
                soak.arrange(fault, stamp=1000 + i)
                try:
                    decision, installed = soak.check(fault)
                finally:
                    soak.restore(fault)
                    for name in list(fs.modes):
                        fs.set_mode(name, "normal")
                met[fault] += 1
                ok = decision == want and installed == (fault == "good")
                if installed:
                    soak.version += 1
                    recorded = p.original()["OriginalSetup"]["VersionOriginal"]
                    ok = ok and recorded == str(soak.version)
                if not ok:
                    wrong.append((i + 1, fault, decision, installed))
                if (i + 1) % max(1, wanted // 5) == 0:
                    samples.append((i + 1, proc_info(pid, linux_pid)))
                    print(f"  ... {i + 1} checks, {time.time() - t0:.0f} s", flush=True)
            busy_s = time.time() - t0
            end = proc_info(pid, linux_pid)
            time.sleep(idle_s)
            idle = proc_info(pid, linux_pid)
            still = [r[1] for r in p.x_windows()]
            mine = ("Agent.exe", "X_Agent.exe", "Product.exe", "Agent.exe.manifest")
            files = sorted(x.name for x in p.install.glob("*.exe*") if x.name not in mine)
            # A cut download stays for its resume; only one per package name may be left.
            partials = [f for f in files if re.fullmatch(r".+\.exe\.\d+", f)]
            leftovers = [f for f in files if f not in partials] + setup_folders()

            print(f"checks done        {wanted} in {busy_s:.0f} s ({busy_s / max(1, wanted):.1f} s a check)")
            print("faults met         " + ", ".join(f"{k} {met[k]}" for k, _ in ROUND if k != "good"))
            print(f"updates installed  {met['good'] - sum(1 for x in wrong if x[1] == 'good')} of {met['good']} "
                  f"good releases (version {soak.version})")
            print(f"agent              pid {pid}, still the same copy: {still == [pid]}")
            show("at the start", start)
            for n, info in samples:
                show(f"after {n} checks", info)
            show(f"{idle_s} s idle later", idle)
            print(f"  CPU while idle     {idle['cpu_ms'] - end['cpu_ms']} ms in {idle_s} s")
            print(f"leftovers          {leftovers or 'none'} "
                  f"(partial downloads kept for a resume: {partials or 'none'})")
            if wrong:
                print("UNEXPECTED         " + "; ".join(f"check {n} {f}: decision {d}, installed {i}"
                                                       for n, f, d, i in wrong))
            return 0 if not wrong and still == [pid] and not leftovers and len(partials) <= 2 else 1
    finally:
        fs.stop()


if __name__ == "__main__":
    sys.exit(main())
