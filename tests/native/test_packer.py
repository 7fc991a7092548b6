"""The packer's command line: building, inspecting, inform files and errors."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "wine"))
from packerlib import fake_stub, fresh, packer  # noqa: E402
from winelib import WIN64_BIN, case, main, native  # noqa: E402


def fields(text):
    """'  Key: value' lines of inspect output, first occurrence wins."""
    out = {}
    for line in text.splitlines():
        m = re.match(r"\s+(\w+): (.*)$", line)
        if m and m.group(1) not in out:
            out[m.group(1)] = m.group(2)
    return out


BASIC = """\
[package]
stub = stub.exe
output = out/Setup.exe
token = PRODUCT-1
update_url = http://example.test/upd
info_file = App.info
agent_exe = AppAgent.exe
activity_bar = 1
debug_log = yes

[language English]
s0 = Demo Setup
s11 =

[language German]
include = german.txt

[file]
source = engine.exe
engine = /LANG=DE
time = 2024-05-17 13:45:30

[file]
source = data.bin
name = Data.bin
compression = stored
"""


def basic_dir(name, manifest=BASIC):
    d = fresh(name)
    fake_stub(d / "stub.exe")
    (d / "engine.exe").write_bytes(b"MZ fake engine")
    (d / "data.bin").write_bytes(os.urandom(30000))
    (d / "german.txt").write_text("# German texts\ns0 = Installation\nCharset = 0\n")
    (d / "out").mkdir()
    (d / "m.txt").write_text(manifest)
    return d


@case
def build_and_inspect():
    d = basic_dir("build")
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 0, r.stderr
    assert sorted(os.listdir(d / "out")) == ["Setup.exe"]
    r = packer("inspect", d / "out/Setup.exe")
    assert r.returncode == 0, r.stdout + r.stderr
    f = fields(r.stdout)
    assert f["PackageSignature"] == "0x4A3B2C1D"
    assert f["FileCount"] == "2"
    assert f["FirstItemOffset"] == "1024"
    assert f["ActivityBar"] == "1" and f["DebugLog"] == "1" and f["MoreVolumes"] == "0"
    assert f["PackageToken"] == "valid"
    assert f["AgentExeName"] == "AppAgent.exe"
    assert f["VolumeChecksum"].endswith("(ok)")
    assert "English (2 texts)" in r.stdout and "German (2 texts)" in r.stdout
    assert re.search(r"1  14  2024-05-17 13:45:30 \(\d+\)  compressed  engine.exe  \[engine /LANG=DE\]", r.stdout)
    assert re.search(r"1  30000  .*  stored  Data.bin", r.stdout)
    assert "result: OK" in r.stdout


@case
def volumes_and_damage():
    d = basic_dir("volumes", BASIC.replace("debug_log = yes", "volume_size = 9000\nfirst_volume_001 = 1"))
    r = packer("build", "m.txt", "-o", "out/Disk.exe", cwd=d)
    assert r.returncode == 0, r.stderr
    names = sorted(os.listdir(d / "out"))
    assert names == ["Disk.exe.001", "Disk.exe.002", "Disk.exe.003", "Disk.exe.004"], names
    assert all((d / "out" / n).stat().st_size <= 9000 for n in names)
    r = packer("inspect", d / "out/Disk.exe.001")
    assert r.returncode == 0, r.stdout
    assert r.stdout.count("(ok)") == 4
    assert len(re.findall(r"stored  Data.bin", r.stdout)) == 4

    vol2 = d / "out/Disk.exe.002"
    data = bytearray(vol2.read_bytes())
    data[100] ^= 0xFF
    vol2.write_bytes(bytes(data))
    r = packer("inspect", d / "out/Disk.exe.001")
    assert r.returncode == 1 and "does not match" in r.stdout, r.stdout

    (d / "out/Disk.exe.004").unlink()
    r = packer("inspect", d / "out/Disk.exe.001")
    assert r.returncode == 1 and "volume file missing" in r.stdout, r.stdout

    (d / "junk.bin").write_bytes(b"no package here")
    r = packer("inspect", d / "junk.bin")
    assert r.returncode == 1 and "not a setup file" in r.stdout


@case
def checksum_switched_off():
    d = basic_dir("nochecksum", BASIC.replace("debug_log = yes", "checksum = 0"))
    assert packer("build", "m.txt", cwd=d).returncode == 0
    r = packer("inspect", d / "out/Setup.exe")
    assert r.returncode == 0
    assert fields(r.stdout)["VolumeChecksum"] == "0x000004D2 (not checked)"


@case
def manifest_errors_name_file_and_line():
    def with_line(after, text):
        return BASIC.replace(after, after + "\n" + text, 1)

    cases = [
        # (manifest text, line, message part)
        (with_line("[package]", "colour = blue"), 2, 'unknown key "colour"'),
        (with_line("[package]", "silent = maybe"), 2, "expected 1 or 0"),
        (with_line("[package]", "token = ABCDEFGHIJKLMNOPQRSTU"), 2, "token longer than 20"),
        (with_line("[package]", "agent_exe = a|b.exe"), 2, 'must not contain "|"'),
        (with_line("[package]", "just text"), 2, "expected key = value"),
        ("stub = stub.exe\n", 1, "outside a section"),
        (with_line("[package]", "[colours]"), 2, "unknown section [colours]"),
        (BASIC.replace("compression = stored", "compression = 11"), 26, "from 0 to 9"),
        (BASIC.replace("source = data.bin", "source = nothere.bin"), 24, "cannot read"),
        (BASIC.replace("name = Data.bin", "name = engine.exe"), 25, "used twice"),
        (BASIC.replace("name = Data.bin", "name = sub/Data.bin"), 25, "bad name"),
        (BASIC.replace("compression = stored", "engine ="), 26, "more than one file"),
        (BASIC.replace("time = 2024-05-17 13:45:30", "time = 1970-01-01"), 21, "time:"),
        (BASIC.replace("include = german.txt", "include = french.txt"), 16, "cannot read language file"),
        (BASIC.replace("stub = stub.exe", "stub = nostub.exe"), 2, "cannot read the stub"),
        (BASIC.replace("stub = stub.exe", "stub = nope.exe"), 2, "nope.exe"),
        (BASIC.replace("stub = stub.exe", "stub = engine.exe"), 2, "MZ"),
        (BASIC.replace("stub = stub.exe\n", ""), 1, "no stub given"),
    ]
    for text, line, part in cases:
        d = basic_dir("errors", text)
        r = packer("build", "m.txt", cwd=d)
        assert r.returncode == 1, (text, r.returncode)
        assert f"m.txt:{line}: " in r.stderr, (line, r.stderr)
        assert part in r.stderr, (part, r.stderr)
        assert os.listdir(d / "out") == [], os.listdir(d / "out")

    d = basic_dir("errors")
    (d / "german.txt").write_text("s0 = ok\nno equals sign\n")
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 1 and "german.txt:2: expected key = value" in r.stderr, r.stderr


@case
def messages_a_publisher_can_act_on():
    no_engine = BASIC.replace("engine = /LANG=DE\n", "")
    # A setup that would start nothing is refused, naming the manifest, unless it is meant.
    d = basic_dir("noengine", no_engine)
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 1 and "m.txt:1: no file is marked as the setup engine" in r.stderr, r.stderr
    assert "no_engine = 1" in r.stderr and os.listdir(d / "out") == []
    for key in ("no_engine = 1", "web_setup = 1", "is_update_agent = 1\nallow_unsigned = 1"):
        d = basic_dir("noengine_ok", no_engine.replace("[package]", "[package]\n" + key, 1))
        r = packer("build", "m.txt", cwd=d)
        assert r.returncode == 0, (key, r.stderr)

    # Sources that cannot be read: resolved path, the reason and the line.
    cases = [
        (BASIC.replace("source = data.bin", "source = nothere.bin"), 24, "nothere.bin (no such file)"),
        (BASIC.replace("stub = stub.exe", "stub = out"), 2, "out (it is a folder)"),
        (BASIC.replace("include = german.txt", "include = out"), 16, "out (it is a folder)"),
        (BASIC.replace("include = german.txt", "include = french.txt"), 16, "french.txt (no such file)"),
    ]
    if os.geteuid() != 0:  # root reads everything
        cases.append((BASIC, 24, "data.bin (Permission denied)"))
    for text, line, part in cases:
        d = basic_dir("unreadable", text)
        (d / "data.bin").chmod(0)
        if "Permission" not in part:
            (d / "data.bin").chmod(0o644)
        r = packer("build", "m.txt", cwd=d)
        assert r.returncode == 1 and f"m.txt:{line}: " in r.stderr, (part, r.stderr)
        assert str(d) in r.stderr and part in r.stderr, (part, r.stderr)

    # A volume size too small names its line and the smallest size that works, which does work.
    d = basic_dir("tiny", BASIC.replace("debug_log = yes", "volume_size = 1100"))
    r = packer("build", "m.txt", cwd=d)
    m = re.search(r"m.txt:9: volume_size 1100 is too small for this package: the smallest size that works is (\d+)",
                  r.stderr)
    assert r.returncode == 1 and m, r.stderr
    least = int(m.group(1))
    (d / "m.txt").write_text(BASIC.replace("debug_log = yes", f"volume_size = {least}"))
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 0, r.stderr
    assert packer("inspect", d / "out/Setup.exe").returncode == 0


@case
def inspect_says_what_a_file_is_when_it_is_no_setup():
    d = basic_dir("inspectwhat", BASIC.replace("debug_log = yes", "volume_size = 12000"))
    assert packer("build", "m.txt", cwd=d).returncode == 0
    d2 = basic_dir("inspectwhat001", BASIC.replace("debug_log = yes", "volume_size = 12000"))
    assert packer("build", "m.txt", "-o", "out/Data", cwd=d2).returncode == 0
    (d2 / "out/Data").rename(d2 / "out/Data.001")
    (d / "junk.bin").write_bytes(b"no package here")
    cases = [
        (d / "out/Setup.exe.002", f"volume 2 of a split package; inspect its first volume {d / 'out/Setup.exe'}"),
        (d2 / "out/Data.002", f"volume 2 of a split package; inspect its first volume {d2 / 'out/Data.001'}"),
        (d / "junk.bin", "not a setup file"),
        (d / "out/Setup.exe", None),
        (d / "missing.exe", "file missing"),
    ]
    for path, part in cases:
        assert path.exists() == ("missing" not in path.name), path
        r = packer("inspect", path)
        doc = json.loads(packer("inspect", "--json", path).stdout)
        if part is None:
            assert r.returncode == 0 and doc["result"] == "OK", r.stdout
            continue
        assert r.returncode == 1 and f"PROBLEM: {part}" in r.stdout, (path, r.stdout)
        assert r.stdout.count("PROBLEM") == 1 and "files (volume" in r.stdout, r.stdout
        assert doc["volumes"][0]["problems"][0].startswith(part), doc["volumes"]


@case
def stub_without_pe_at_0x100():
    d = basic_dir("nope")
    b = bytearray((d / "stub.exe").read_bytes())
    b[0x100:0x104] = b"\0\0\0\0"
    b[0x80:0x84] = b"PE\0\0"  # a normal linker layout: header elsewhere
    (d / "stub.exe").write_bytes(bytes(b))
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 1 and "m.txt:2: " in r.stderr and "0x100" in r.stderr, r.stderr


@case
def failed_build_keeps_previous_output():
    d = basic_dir("keep")
    assert packer("build", "m.txt", cwd=d).returncode == 0
    before = (d / "out/Setup.exe").read_bytes()
    # A name too long for any volume fails after the first volume was started.
    text = BASIC.replace("debug_log = yes", "volume_size = 1300").replace("name = Data.bin", "name = " + "n" * 1300)
    (d / "m.txt").write_text(text)
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 1 and "too small" in r.stderr, r.stderr
    assert sorted(os.listdir(d / "out")) == ["Setup.exe"]
    assert (d / "out/Setup.exe").read_bytes() == before


@case
def usage_errors():
    cases = [([], 2, "usage"), (["frobnicate"], 2, "unknown command"), (["build"], 2, "needs a manifest"),
             (["build", "/nonexistent/m.txt"], 1, "cannot read the manifest"), (["inspect"], 2, "exactly one"),
             (["inform", "x.txt", "--token", "T"], 2, "needs an output"),
             (["extract", "Setup.exe"], 2, "needs a package and a folder"),
             (["extract", "--list", "Setup.exe", "folder"], 2, "exactly one package"),
             (["extract", "--force", "Setup.exe", "folder"], 2, "unknown option"),
             (["extract", "/nonexistent/Setup.exe", "folder"], 1, "cannot open"),
             (["inspect", "--json"], 2, "exactly one")]
    for args, code, part in cases:
        r = packer(*args)
        assert r.returncode == code, (args, r.returncode)
        assert part in r.stderr, (args, r.stderr)
    assert packer("--help").returncode == 0


@case
def inform_files():
    d = fresh("inform")
    r = packer("inform", d / "plain.txt", "--token", "PRODUCT-1", "--body", "New <B>2.0</B>|details")
    assert r.returncode == 0, r.stderr
    text = (d / "plain.txt").read_bytes()
    parts = text.split(b"|", 4)
    assert len(parts[1]) == 50 and parts[4] == b"New <B>2.0</B>|details", text
    (d / "body.txt").write_bytes(b"Body from a file")
    r = packer("inform", d / "scr.txt", "--token", "PRODUCT-1", "--body-file", d / "body.txt", "--scrambled")
    assert r.returncode == 0, r.stderr
    assert (d / "scr.txt").read_bytes().startswith(b"Scrambled=01")
    r = packer("inform", d / "bad.txt", "--token", "T" * 21, "--body", "x")
    assert r.returncode == 1 and not (d / "bad.txt").exists()
    assert sorted(os.listdir(d)) == ["body.txt", "plain.txt", "scr.txt"]


def many_files_dir(name, file_sections):
    d = fresh(name)
    fake_stub(d / "stub.exe")
    for rel in ["payload/b.cab", "payload/A.CAB", "payload/c.txt", "payload/sub/d.cab", "payload/sub/deeper/e.txt",
                "other/b.cab", "empty/sub/x.txt"]:
        (d / rel).parent.mkdir(parents=True, exist_ok=True)
        (d / rel).write_bytes(rel.encode() * 50)
    (d / "out").mkdir()
    # no_engine stands where a blank line stood, so the sections keep their line numbers.
    (d / "m.txt").write_text("[package]\nstub = stub.exe\noutput = out/Setup.exe\nno_engine = 1\n" + file_sections)
    return d


def packed_files(d):
    """(name, method, DOS date text, engine) of each file of the built package, in order."""
    doc = json.loads(packer("inspect", "--json", d / "out/Setup.exe").stdout)
    return [(f["name"], f["method"], f["date"], f["engine"]) for f in doc["files"]]


@case
def folder_and_wildcard_sources():
    cases = [
        # (sections, names in package order); letter case is ignored in matching and order
        ("[file]\nsource = payload/*.cab\n", ["A.CAB", "b.cab"]),
        ("[file]\nsource = payload/?.CAB\n", ["A.CAB", "b.cab"]),
        ("[file]\nsource = payload/\n", ["A.CAB", "b.cab", "c.txt"]),
        ("[file]\nsource = payload\n", ["A.CAB", "b.cab", "c.txt"]),
        ("[file]\nsource = payload\nrecursive = 1\n", ["A.CAB", "b.cab", "c.txt", "d.cab", "e.txt"]),
        ("[file]\nsource = payload/*.cab\nrecursive = yes\n", ["A.CAB", "b.cab", "d.cab"]),
        # Sections keep their order; one match may carry the engine and a name.
        ("[file]\nsource = payload/c*\nengine =\nname = Setup.exe\n[file]\nsource = payload/*.CAB\n",
         ["Setup.exe", "A.CAB", "b.cab"]),
    ]
    for sections, names in cases:
        d = many_files_dir("many", sections)
        r = packer("build", "m.txt", cwd=d)
        assert r.returncode == 0, (sections, r.stderr)
        assert [f[0] for f in packed_files(d)] == names, (sections, packed_files(d))

    # The section's other keys apply to every file it names.
    d = many_files_dir("many", "[file]\nsource = payload/\ncompression = stored\ntime = 2020-02-03 04:05:06\n")
    assert packer("build", "m.txt", cwd=d).returncode == 0
    assert set(packed_files(d)) == {(n, "stored", "2020-02-03T04:05:06", False) for n in ["A.CAB", "b.cab", "c.txt"]}


@case
def folder_and_wildcard_errors():
    cases = [
        # (sections, line, message parts)
        ("[file]\nsource = payload/*.zip\n", 6, ["no file matches payload/*.zip"]),
        ("[file]\nsource = empty\n", 6, ["no file matches empty"]),
        ("[file]\nsource = empty/*.txt\nrecursive = 1\n", 6, []),  # found in empty/sub: no error
        ("[file]\nsource = nowhere/*.cab\n", 6, ["cannot read the folder"]),
        ("[file]\nsource = */b.cab\n", 6, ["only in the file-name part"]),
        ("[file]\nsource = payload/*.cab\nengine = /S\n", 7, ["engine marks one file", "matches 2 files"]),
        ("[file]\nsource = payload/*.cab\nname = x.cab\n", 7, ["matches 2 files"]),
        ("[file]\nsource = payload/*.cab\n[file]\nsource = other/\n", 8, ['"b.cab" is used twice']),
        ("[file]\nsource = .\nrecursive = 1\n", 6, ['two files named "b.cab"', "./other/b.cab", "./payload/b.cab"]),
        ("[file]\nsource = payload\nrecursive = maybe\n", 7, ["expected 1 or 0"]),
    ]
    for sections, line, parts in cases:
        d = many_files_dir("manyerr", sections)
        r = packer("build", "m.txt", cwd=d)
        if not parts:
            assert r.returncode == 0, (sections, r.stderr)
            continue
        assert r.returncode == 1, (sections, r.stdout)
        assert f"m.txt:{line}: " in r.stderr, (sections, r.stderr)
        for part in parts:
            assert part in r.stderr, (part, r.stderr)
        assert os.listdir(d / "out") == []


@case
def signed_setup_still_reads():
    stub = WIN64_BIN / "stub.exe"
    assert stub.exists(), f"the real stub is built before the tests: {stub}"
    d = basic_dir("signed")
    shutil.copy(stub, d / "stub.exe")
    assert packer("build", "m.txt", cwd=d).returncode == 0
    key, cert = d / "key.pem", d / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Packer Test"], check=True, capture_output=True)
    r = subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", d / "out/Setup.exe",
                        "-out", d / "out/Signed.exe"], capture_output=True)
    assert r.returncode == 0, r.stdout + r.stderr
    signed = d / "out/Signed.exe"
    r = packer("inspect", signed)
    assert r.returncode == 0, r.stdout
    f = fields(r.stdout)
    assert int(f["LogicalEnd"]) < signed.stat().st_size  # the signature lies beyond PackageEnd
    assert f["VolumeChecksum"].endswith("(ok)")
    assert f["PackageToken"] == "valid"
    assert "engine.exe  [engine /LANG=DE]" in r.stdout


def build_env(**extra):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    env.update(extra)
    return env


def packer_env(env, *args, cwd=None):
    r = subprocess.run([str(native("packer"))] + [str(a) for a in args], cwd=cwd, env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return r.returncode, r.stdout.decode("latin-1") + r.stderr.decode("latin-1")


@case
def reproducible_builds():
    """Same manifest and contents in two folders, built at different times with
    different file times and time zones: the same bytes with SOURCE_DATE_EPOCH,
    with file times clamped to it in UTC; random parts without it."""
    epoch = 1700000000  # 2023-11-14 22:13:20 UTC
    outputs = []
    for name, tz, mtime in (("repro-a", "UTC-5", epoch + 86400), ("repro-b", "UTC+3", epoch + 3600)):
        d = basic_dir(name)
        (d / "data.bin").write_bytes(bytes(range(256)) * 100)
        os.utime(d / "data.bin", (mtime, mtime))
        code, out = packer_env(build_env(SOURCE_DATE_EPOCH=str(epoch), TZ=tz), "build", "m.txt", "-j", "2", cwd=d)
        assert code == 0, out
        outputs.append((d / "out/Setup.exe").read_bytes())
        time.sleep(1.1)
    assert outputs[0] == outputs[1]
    code, out = packer_env(build_env(), "inspect", d / "out/Setup.exe")
    assert code == 0, out
    assert re.search(r"stored  Data.bin", out) and "2023-11-14 22:13:20" in out, out

    # A file older than the epoch keeps its own time, also in UTC.
    old = epoch - 7200
    os.utime(d / "data.bin", (old, old))
    code, out = packer_env(build_env(SOURCE_DATE_EPOCH=str(epoch), TZ="UTC-5"), "build", "m.txt", cwd=d)
    assert code == 0, out
    code, out = packer_env(build_env(), "inspect", d / "out/Setup.exe")
    assert "2023-11-14 20:13:20" in out, out

    # Without the option the letters at 0x90 and the token differ every time.
    code, out = packer_env(build_env(), "build", "m.txt", "-o", "out/A.exe", cwd=d)
    assert code == 0, out
    code, out = packer_env(build_env(), "build", "m.txt", "-o", "out/B.exe", cwd=d)
    assert code == 0, out
    a, b = (d / "out/A.exe").read_bytes(), (d / "out/B.exe").read_bytes()
    assert len(a) == len(b) and a[0x90:0xD0] != b[0x90:0xD0] and a != b

    # The manifest key alone: reproducible bytes, file times as they are (local time).
    d = basic_dir("repro-key", BASIC.replace("activity_bar = 1", "activity_bar = 1\nreproducible = 1"))
    os.utime(d / "data.bin", (epoch, epoch))
    codes = [packer_env(build_env(TZ="UTC-5"), "build", "m.txt", "-o", f"out/{n}.exe", cwd=d)[0] for n in "AB"]
    assert codes == [0, 0]
    assert (d / "out/A.exe").read_bytes() == (d / "out/B.exe").read_bytes()
    code, out = packer_env(build_env(TZ="UTC-5"), "inspect", d / "out/A.exe")
    assert "2023-11-15 03:13:20" in out, out

    code, out = packer_env(build_env(SOURCE_DATE_EPOCH="17e8"), "build", "m.txt", cwd=d)
    assert code == 1 and "SOURCE_DATE_EPOCH" in out, out


@case
def build_creates_the_output_folder():
    d = basic_dir("newfolder", BASIC.replace("output = out/Setup.exe", "output = new/deeper/Setup.exe"))
    r = packer("build", "m.txt", "-j", "1", cwd=d)
    assert r.returncode == 0, r.stderr
    assert (d / "new/deeper/Setup.exe").is_file()
    r = packer("build", "m.txt", "-j", "0", cwd=d)
    assert r.returncode == 2 and "-j" in r.stderr


main()
