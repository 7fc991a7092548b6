"""packer extract and extract --list, the progress and summary lines, inspect --json."""
import json
import os
import pathlib
import pty
import re
import select
import struct
import subprocess
import sys
import time
import zlib

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "wine"))
from packerlib import fake_stub, fresh, packer  # noqa: E402
from winelib import case, main, native  # noqa: E402

# A stored file split over three volumes, a compressed one over two,
# and the engine: the round trip sees every joining path.
SPLIT = """\
[package]
stub = stub.exe
output = out/Disk.exe
first_volume_001 = 1
volume_size = 9000
token = PRODUCT-1

[language English]
s0 = Split Setup

[file]
source = engine.exe
engine = /LANG=DE

[file]
source = data.bin
name = Data.bin
compression = stored

[file]
source = big.bin
compression = 1
"""

# Local times on even seconds: DOS times keep two-second steps.
SOURCE_TIMES = {"engine.exe": (2021, 3, 4, 5, 6, 8), "data.bin": (2022, 11, 30, 23, 59, 58),
                "big.bin": (2019, 1, 1, 0, 0, 0)}


def local(t):
    return int(time.mktime(t + (0, 0, -1)))


def split_dir(name, manifest=SPLIT):
    d = fresh(name)
    fake_stub(d / "stub.exe")
    (d / "engine.exe").write_bytes(b"MZ engine " * 40)
    (d / "data.bin").write_bytes(os.urandom(20000))
    # Half random, half repeating: compressed but still over several volumes.
    (d / "big.bin").write_bytes(os.urandom(6000) + b"abcdefgh" * 3000)
    for n, t in SOURCE_TIMES.items():
        os.utime(d / n, (local(t), local(t)))
    (d / "out").mkdir()
    (d / "m.txt").write_bytes(manifest.encode("utf-8"))
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 0, r.stderr
    return d


SOURCES = {"engine.exe": "engine.exe", "Data.bin": "data.bin", "big.bin": "big.bin"}
SUMMARY = re.compile(r"^(\w+): (\d+) volumes?, (\d+) files?, (\d+) bytes in, (\d+) bytes out, ratio [\d.]+%, [\d.]+ s$",
                     re.M)


def summary(text):
    m = SUMMARY.search(text)
    assert m, text
    return m.group(1), int(m.group(2)), int(m.group(3)), int(m.group(4)), int(m.group(5))


@case
def extract_round_trip_over_volumes():
    d = split_dir("roundtrip")
    vols = sorted((d / "out").iterdir())
    assert len(vols) == 4, vols
    target = d / "target"
    target.mkdir()
    (target / "Data.bin").write_bytes(b"an older copy that must be replaced, not appended to")
    (target / "keep.txt").write_bytes(b"not ours")
    r = packer("extract", d / "out/Disk.exe.001", target)
    assert r.returncode == 0, r.stdout + r.stderr
    assert sorted(os.listdir(target)) == ["Data.bin", "big.bin", "engine.exe", "keep.txt"]
    for name, src in SOURCES.items():
        assert (target / name).read_bytes() == (d / src).read_bytes(), name
        assert (target / name).stat().st_mtime == (d / src).stat().st_mtime, name
    assert (target / "keep.txt").read_bytes() == b"not ours"
    assert re.search(r"^  1  400  2021-03-04 05:06:08  engine.exe  \[engine /LANG=DE\]$", r.stdout, re.M), r.stdout
    assert re.search(r"^  1-3  20000  2022-11-30 23:59:58  Data.bin$", r.stdout, re.M), r.stdout
    assert re.search(r"^  3-4  30000  2019-01-01 00:00:00  big.bin$", r.stdout, re.M), r.stdout
    assert r.stdout.count("[engine") == 1
    verb, nvol, nfiles, bytes_in, bytes_out = summary(r.stdout)
    assert (verb, nvol, nfiles) == ("extract", 4, 3)
    assert bytes_in == sum(v.stat().st_size for v in vols)
    assert bytes_out == sum((d / s).stat().st_size for s in SOURCES.values())

    # The list shows the same rows and writes nothing.
    listed = packer("extract", "--list", d / "out/Disk.exe.001")
    assert listed.returncode == 0, listed.stderr
    rows = [l for l in r.stdout.splitlines() if l.startswith("  ")]
    assert [l for l in listed.stdout.splitlines() if l.startswith("  ")] == rows
    assert summary(listed.stdout)[0] == "list"
    assert sorted(os.listdir(d)) == ["big.bin", "data.bin", "engine.exe", "m.txt", "out", "stub.exe", "target"]


def flip(path, offset, count=64):
    b = bytearray(path.read_bytes())
    for i in range(offset, offset + count):
        b[i] ^= 0x5A
    path.write_bytes(bytes(b))


def write_at(path, offset, data):
    b = bytearray(path.read_bytes())
    b[offset:offset + len(data)] = data
    path.write_bytes(bytes(b))


@case
def damaged_packages_fail_and_leave_no_files():
    cases = [
        # (manifest, damage, message part)
        (SPLIT, lambda o: flip(o / "Disk.exe.003", 300), "Disk.exe.003: the volume checksum does not match"),
        # Unchecked volumes: the damage shows only when volume 2 is inflated,
        # after engine.exe and the first pieces of the split files came out.
        (SPLIT.replace("token =", "checksum = 0\ntoken ="), lambda o: flip(o / "Disk.exe.004", 200),
         "damaged data in volume 4"),
        (SPLIT, lambda o: (o / "Disk.exe.004").unlink(), "volume 4 is missing"),
        # An unchecked volume whose first item claims more bytes than it holds.
        (SPLIT.replace("token =", "checksum = 0\ntoken ="),
         lambda o: write_at(o / "Disk.exe.003", 0, struct.pack("<i", 0x700000)), "the package is damaged"),
    ]
    for manifest, damage, part in cases:
        d = split_dir("damaged", manifest)
        damage(d / "out")
        new_target = d / "new"
        r = packer("extract", d / "out/Disk.exe.001", new_target)
        assert r.returncode == 1, (part, r.stdout, r.stderr)
        assert part in r.stderr, (part, r.stderr)
        assert not new_target.exists() or os.listdir(new_target) == [], os.listdir(new_target)
        old_target = d / "old"
        old_target.mkdir()
        (old_target / "engine.exe").write_bytes(b"previous")
        r = packer("extract", d / "out/Disk.exe.001", old_target)
        assert r.returncode == 1 and part in r.stderr, (part, r.stderr)
        assert os.listdir(old_target) == ["engine.exe"] and (old_target / "engine.exe").read_bytes() == b"previous"
        r = packer("extract", "--list", d / "out/Disk.exe.001")
        assert r.returncode == 1 and part in r.stderr, (part, r.stderr)


def raw_package(path, files):
    """A one-volume package with stored file items whose names the packer
    would refuse; checksum 1234 (not checked). A file given as (name,
    content, "utf8") gets the mark of a UTF-8 name."""
    stub = bytearray(0x400)
    stub[0:2] = b"MZ"
    stub[0x100:0x104] = b"PE\0\0"

    def item(payload, stored):
        return struct.pack("<i", -len(payload) if stored else len(payload)) + payload

    chain = item(b"\x02\x01English\x01s0=Raw\x01\x02", False) + item(b"|http://|.info|.exe||0|", False)
    for name, content, *mark in files:
        chain += item(b"|" + name + b"|0|" + b"".join(m.encode() + b"|" for m in mark) + b"\0" + content, True)
    trailer = struct.pack("<BBHIIII8s9IBBBBBBI", 1, 2, 0, len(stub), len(files), 0x4A3B2C1D, 1234, b"\0" * 8,
                          *[0] * 9, 0, 0, 0, 0, 0, 0, 74)
    assert len(trailer) == 74
    path.write_bytes(bytes(stub) + chain + trailer)


@case
def unsafe_names_are_skipped_and_reported():
    d = fresh("unsafe")
    raw_package(d / "Raw.exe", [(b"../evil.txt", b"up"), (b"..\\evil2.txt", b"up"), (b"C:evil3.txt", b"drive"),
                                (b"..", b"dots"), (b"good.txt", b"one,"), (b"sub/x.txt", b"sub"),
                                (b"GOOD.TXT", b"two")])
    target = d / "inner" / "target"
    r = packer("extract", d / "Raw.exe", target)
    assert r.returncode == 0, r.stdout + r.stderr
    # Names that differ only in case are one file on Windows, so the stub joins them.
    assert os.listdir(target) == ["good.txt"] and (target / "good.txt").read_bytes() == b"one,two"
    assert sorted(os.listdir(d)) == ["Raw.exe", "inner"] and os.listdir(d / "inner") == ["target"]
    skipped = re.findall(r"^  skipped  (.*)  \(unsafe name", r.stdout, re.M)
    assert skipped == ["../evil.txt", "..\\evil2.txt", "C:evil3.txt", "..", "sub/x.txt"], r.stdout
    listed = packer("extract", "--list", d / "Raw.exe")
    assert re.findall(r"^  skipped  (.*)  \(unsafe name", listed.stdout, re.M) == skipped


def file_items(path):
    """(header, content) of every file item of a one-volume package."""
    data = path.read_bytes()
    first, header_items = struct.unpack_from("<I", data, len(data) - 74 + 4)[0], data[len(data) - 74 + 1]
    pos, end, items = first, len(data) - 74, []
    while pos < end:
        (n,) = struct.unpack_from("<i", data, pos)
        items.append((n, data[pos + 4:pos + 4 + abs(n)]))
        pos += 4 + abs(n)
    # Header items are never compressed; file items are zlib streams unless stored.
    plain = [zlib.decompress(p) if n > 0 else p for n, p in items[header_items:]]
    return [tuple(p.split(b"\0", 1)) for p in plain]


# 2-, 3- and 4-byte UTF-8; the last one is a surrogate pair in the JSON text.
NAMES = ["M\u00fcller.txt", "\u65e5\u672c.txt", "\u03a9mega.txt", "\U0001F4E6box.txt"]
NAMED = """\
[package]
stub = stub.exe
output = out/Setup.exe

[language English]
s0 = Names

[file]
source = engine.exe
engine = /LANG=DE
time = 2024-05-17 13:45:30

[file]
source = names/
time = 2024-05-17 13:45:30
"""


def latin1(text):
    """How the packer's UTF-8 output reads once packerlib decodes it as Latin-1."""
    return text.encode().decode("latin-1")


def names_dir(name):
    """A folder with a stub, an engine and the manifest NAMED; its names/ folder is empty."""
    d = fresh(name)
    fake_stub(d / "stub.exe")
    (d / "engine.exe").write_bytes(b"MZ engine")
    (d / "names").mkdir()
    (d / "m.txt").write_text(NAMED, encoding="utf-8")
    return d


@case
def non_ascii_names_are_marked_and_extract_under_their_names():
    d = names_dir("utf8names")
    for i, n in enumerate(NAMES):
        (d / "names" / n).write_bytes(b"content %d" % i)
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 0, r.stderr
    # The header says UTF-8 in a third field; the ASCII engine keeps the two fields of old.
    headers = sorted(h for h, _ in file_items(d / "out/Setup.exe"))
    (dos,) = [m.group(1) for m in (re.match(rb"\|engine.exe\*/LANG=DE\|(\d+)\|$", h) for h in headers) if m]
    assert headers == sorted([b"|engine.exe*/LANG=DE|" + dos + b"|"] +
                             [b"|" + n.encode() + b"|" + dos + b"|utf8|" for n in NAMES]), headers

    doc = json.loads(packer("inspect", "--json", d / "out/Setup.exe").stdout)
    got = {f["name"]: (f["encoding"], f["path"], f["unsafe"]) for f in doc["files"]}
    assert got == {"engine.exe": ("ansi", "engine.exe", False), **{n: ("utf8", n, False) for n in NAMES}}, got
    text = packer("inspect", d / "out/Setup.exe").stdout
    for n in NAMES:
        assert re.search(r"^  1  9  .*  compressed  " + re.escape(latin1(n)) + r"  \(utf8\)$", text, re.M), text
    assert re.search(r"  compressed  engine.exe  \[engine /LANG=DE\]$", text, re.M), text

    target = d / "target"
    r = packer("extract", d / "out/Setup.exe", target)
    assert r.returncode == 0, r.stdout + r.stderr
    assert sorted(os.listdir(target)) == sorted(NAMES + ["engine.exe"])
    for i, n in enumerate(NAMES):
        assert (target / n).read_bytes() == b"content %d" % i, n
        assert re.search(r"^  1  9  2024-05-17 13:45:30  " + re.escape(latin1(n)) + "$", r.stdout, re.M), r.stdout


@case
def ascii_names_stay_unmarked():
    # An ASCII package is what writers before the mark made: two header fields, nothing more.
    d = split_dir("asciinames", SPLIT.replace("first_volume_001 = 1\nvolume_size = 9000\n", ""))
    items = file_items(d / "out/Disk.exe")
    sources = {b"engine.exe": "engine.exe", b"Data.bin": "data.bin", b"big.bin": "big.bin"}
    assert len(items) == 3
    for header, content in items:
        m = re.match(rb"\|([^|*]+)(\*/LANG=DE)?\|(\d+)\|$", header)
        assert m, header
        assert content == (d / sources[m.group(1)]).read_bytes()
    doc = json.loads(packer("inspect", "--json", d / "out/Disk.exe").stdout)
    assert {(f["name"], f["encoding"], f["path"]) for f in doc["files"]} == {(n, "ansi", n) for n in
                                                                           ("engine.exe", "Data.bin", "big.bin")}


@case
def source_names_that_are_not_utf8_are_refused():
    d = names_dir("badnames")
    with open(os.fsencode(d / "names") + b"/M\xfcller.txt", "wb") as f:
        f.write(b"latin-1 name")
    r = packer("build", "m.txt", cwd=d)
    assert r.returncode == 1, r.stdout
    assert 'file name is not valid UTF-8: "M\\xFCller.txt" (from ' in r.stderr, r.stderr
    assert not (d / "out").exists() or os.listdir(d / "out") == []


@case
def names_of_other_encodings_inspect_and_extract_as_the_stub_sees_them():
    d = fresh("mixednames")
    raw_package(d / "Raw.exe", [(b"M\xfcller.txt", b"ansi"), (b"M\xc3\xbcller.txt", b"utf8", "utf8"),
                                (b"Bad\xfc.txt", b"broken", "utf8"), (b"\xc0\xae\xc0\xae", b"overlong", "utf8"),
                                (b"COM\xc2\xb9", b"device", "utf8"), (b"plain.txt", b"plain")])
    doc = json.loads(packer("inspect", "--json", d / "Raw.exe").stdout)
    got = [(f["name"], f["encoding"], f["path"], f["unsafe"]) for f in doc["files"]]
    assert got == [
        # An unmarked name keeps one code point per byte; its path depends on the extracting machine.
        ("M\u00fcller.txt", "ansi", None, False),
        ("M\u00fcller.txt", "utf8", "M\u00fcller.txt", False),
        ("Bad\u00fc.txt", "utf8", None, True),
        ("\u00c0\u00ae\u00c0\u00ae", "utf8", None, True),
        ("COM\u00b9", "utf8", "COM\u00b9", True),
        ("plain.txt", "ansi", "plain.txt", False),
    ], got
    text = packer("inspect", d / "Raw.exe").stdout
    rows = [l.split("  stored  ", 1)[1] for l in text.splitlines() if "  stored  " in l]
    assert rows == [
        r"M\xFCller.txt  (ansi)",
        latin1("M\u00fcller.txt") + "  (utf8)",
        r"Bad\xFC.txt  (utf8)  (UNSAFE: marked as UTF-8 but not valid UTF-8; skipped on extraction)",
        r"\xC0\xAE\xC0\xAE  (utf8)  (UNSAFE: marked as UTF-8 but not valid UTF-8; skipped on extraction)",
        latin1("COM\u00b9") + "  (utf8)  (UNSAFE: not a plain file name; skipped on extraction)",
        "plain.txt",
    ], rows

    target = d / "target"
    r = packer("extract", d / "Raw.exe", target)
    assert r.returncode == 0, r.stdout + r.stderr
    # Marked names become UTF-8 names; an unmarked one keeps its bytes, as before.
    assert sorted(os.listdir(os.fsencode(target))) == [b"M\xc3\xbcller.txt", b"M\xfcller.txt", b"plain.txt"]
    assert (target / "M\u00fcller.txt").read_bytes() == b"utf8"
    skipped = re.findall(r"^  skipped  (.*)  \(unsafe name: (.*); a setup", r.stdout, re.M)
    assert skipped == [(r"Bad\xFC.txt", "marked as UTF-8 but not valid UTF-8"),
                       (r"\xC0\xAE\xC0\xAE", "marked as UTF-8 but not valid UTF-8"),
                       (latin1("COM\u00b9"), "not a plain file name")], r.stdout
    assert re.search(r"^  1  4  \(time of extraction\)  M\\xFCller.txt$", r.stdout, re.M), r.stdout


def run_on_terminal(args, cwd):
    """Runs the packer with standard error on a pseudo terminal; returns
    (exit code, stdout, what the terminal got)."""
    master, slave = pty.openpty()
    p = subprocess.Popen([str(native("packer"))] + [str(a) for a in args], cwd=cwd, stdout=subprocess.PIPE,
                         stderr=slave)
    os.close(slave)
    got = b""
    while True:
        ready, _, _ = select.select([master], [], [], 60)
        if not ready:
            break
        try:
            chunk = os.read(master, 4096)
        except OSError:  # the other end closed
            break
        if not chunk:
            break
        got += chunk
    out = p.stdout.read().decode("latin-1")
    code = p.wait(60)
    os.close(master)
    return code, out, got.decode("latin-1")


@case
def progress_only_on_a_terminal():
    d = split_dir("progress")
    cases = [
        # (arguments, on a terminal, progress expected, summary verb)
        (["build", "m.txt", "-o", "out/Again.exe"], True, "packing: ", "build"),
        (["build", "m.txt", "-o", "out/Again.exe", "--quiet"], True, None, "build"),
        (["build", "m.txt", "-o", "out/Again.exe"], False, None, "build"),
        (["extract", "out/Disk.exe.001", "t1"], True, "extracting: ", "extract"),
        (["extract", "out/Disk.exe.001", "t2", "--quiet"], True, None, "extract"),
        (["extract", "out/Disk.exe.001", "t3"], False, None, "extract"),
        (["extract", "--list", "out/Disk.exe.001"], True, "listing: ", "list"),
    ]
    for args, terminal, progress, verb in cases:
        if terminal:
            code, out, err = run_on_terminal(args, d)
        else:
            r = packer(*args, cwd=d)
            code, out, err = r.returncode, r.stdout, r.stderr
        assert code == 0, (args, out, err)
        assert summary(out)[0] == verb, (args, out)
        if progress:
            assert re.search(progress + r"\d+/3 files, .* of .*", err), (args, err)
            assert err.startswith("\r") and err.endswith("\r") and "\n" not in err, (args, repr(err))
        else:
            assert err == "", (args, repr(err))


def text_blocks(text):
    """Per volume of the inspect text: {key: value}; the header and file rows."""
    volumes, rows = [], []
    for line in text.splitlines():
        if line.startswith("volume "):
            volumes.append({})
        m = re.match(r"  (\w+): (.*)$", line)
        if m and volumes and m.group(1) not in volumes[-1]:
            volumes[-1][m.group(1)] = m.group(2)
        if re.match(r"  \d+  \d+  ", line):
            rows.append(line)
    return volumes, rows


@case
def inspect_json_matches_the_text():
    manifest = SPLIT.replace("s0 = Split Setup", "s0 = Split Setup\nWelcome = Gr\xfc\xdfe\ns0 = shadowed") + """
[web]
base = http://example.test/files
file = Real.exe
token = WEB-1
size = 12345
"""
    d = split_dir("json", manifest)
    first = d / "out/Disk.exe.001"
    text = packer("inspect", first)
    r = packer("inspect", "--json", first)
    assert r.returncode == text.returncode == 0, r.stdout + text.stdout
    doc = json.loads(r.stdout)
    assert doc["result"] == "OK" and doc["problemCount"] == 0
    blocks, rows = text_blocks(text.stdout)
    assert len(doc["volumes"]) == len(blocks) == 4
    for v, block in zip(doc["volumes"], blocks):
        t = v["trailer"]
        for key in ("HeaderItemCount", "FirstItemOffset", "FileCount", "TrailerLength"):
            assert str(t[key]) == block[key], key
        assert "0x%08X" % t["PackageSignature"] == block["PackageSignature"]
        assert " ".join(map(str, t["SpaceRequired"])) == block["SpaceRequired"]
        for flag in ("MoreVolumes", "ActivityBar", "WebSetup", "IsUpdateAgent"):
            assert int(t[flag]) == int(block[flag]), flag
        assert block["VolumeChecksum"] == "0x%08X (%s)" % (t["VolumeChecksum"], v["checksum"])
        assert str(v["logicalEnd"]) == block["LogicalEnd"] and int(v["executable"]) == int(block["Executable"])
    h, w = doc["header"], doc["webSetup"]
    for key in ("UpdateUrl", "InfoFileName", "AgentExeName", "PackageToken"):
        assert h[key] == blocks[0][key], key
    assert h["PackageToken"] == "valid" and w["WebToken"] == "valid"
    assert (w["Base"], w["FileName"], w["Size"], w["AlwaysDownload"]) == ("http://example.test/files", "Real.exe",
                                                                         "12345", False)
    (lang,) = doc["languages"]
    assert lang["name"] == "English" and f"English ({lang['count']} texts)" in text.stdout
    # The first of repeated keys counts, as in the stub; bytes above 0x7F
    # come through one code point each.
    assert lang["texts"] == {"s0": "Split Setup", "Welcome": "Gr\xfc\xdfe"}
    assert len(doc["files"]) == len(rows)
    for f, row in zip(doc["files"], rows):
        date = "%s (%d)" % (f["date"].replace("T", " "), f["dosTime"])
        expect = f"  {f['volume']}  {f['size']}  {date}  {f['method']}  {f['name']}"
        if f["engine"]:
            expect += f"  [engine {f['engineArgs']}]"
        assert row == expect, (row, expect)
        assert f["checksum"] == "ok"
    assert [f["name"] for f in doc["files"] if f["engine"]] == ["engine.exe"]

    flip(d / "out/Disk.exe.002", 100)
    text = packer("inspect", first)
    r = packer("inspect", "--json", first)
    doc = json.loads(r.stdout)
    assert r.returncode == text.returncode == 1
    assert doc["result"] == "FAILED" and f"FAILED ({doc['problemCount']} problem" in text.stdout
    assert doc["volumes"][1]["checksum"] == "mismatch" and "does not match" in doc["volumes"][1]["problems"][0]
    assert {f["checksum"] for f in doc["files"] if f["volume"] == 2} == {"mismatch"}

    (d / "junk.bin").write_bytes(b"no package here")
    doc = json.loads(packer("inspect", "--json", d / "junk.bin").stdout)
    assert doc["header"] is None and doc["volumes"][0]["problems"] == ["not a setup file (no package found in it)"]


main()
