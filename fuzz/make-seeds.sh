#!/usr/bin/env bash
# Writes unminimized seed inputs for every fuzz target into <out>/<target>/:
# packages built by the native packer (fake stub: "MZ" at 0, "PE" at 0x100)
# and hand-made texts for the markup, path-macro and command-line targets.
#   make-seeds.sh <packer> <out>
set -euo pipefail
packer=${1:?usage: make-seeds.sh <packer> <out>}
out=${2:?usage: make-seeds.sh <packer> <out>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"/{package,extract,markup,pathmacros,cmdline}
cd "$work"
python3 - <<'PY'
b = bytearray(0x200)
b[0:2] = b"MZ"
b[0x100:0x104] = b"PE\0\0"
open("stub.exe", "wb").write(bytes(b))
open("engine.exe", "wb").write(b"MZ engine " * 20)
open("data.txt", "wb").write(b"line of text\r\n" * 40)
open("empty.txt", "wb").write(b"")
# Names the packer marks as UTF-8 (a device name among them, which the stub skips).
import os
os.mkdir("names")
for n in ("M\u00fcller.txt", "\u65e5\u672c.txt", "\u03a9mega.txt", "COM\u00b9.log"):
    open(os.path.join("names", n), "wb").write(n.encode() * 3)
# Names the packer would not write: unmarked ANSI bytes (some of which the
# extraction target's code page turns into dots and separators) and marked
# names that are not UTF-8. Stored items, checksum 1234.
import struct
def item(payload, stored):
    return struct.pack("<i", -len(payload) if stored else len(payload)) + payload
stub = bytearray(0x200)
stub[0:2] = b"MZ"
stub[0x100:0x104] = b"PE\0\0"
headers = [b"|M\xfcller.txt|0|", b"|\xae\xae|0|", b"|a\xafb.txt|0|", b"|COM\xb9|0|", b"|\xc0\xae\xc0\xae|0|utf8|",
           b"|M\xfcller.txt|0|utf8|", b"|\xed\xa0\x80.txt|0|utf8|", b"|Set\xc3\xbcp.exe* /N=\xce\xa9|0|utf8|"]
chain = item(b"\x02\x01English\x01s0=Setup\x01\x02", False) + item(b"|http://|.info|.exe||0|", False)
chain += b"".join(item(h + b"\0" + b"x", True) for h in headers)
trailer = struct.pack("<BBHIIII8s9IBBBBBBI", 1, 2, 0, len(stub), len(headers), 0x4A3B2C1D, 1234, b"\0" * 8,
                      *[0] * 9, 0, 0, 0, 0, 0, 0, 74)
open("rawnames.exe", "wb").write(bytes(stub) + chain + trailer)
PY
cat > plain.txt <<'M'
[package]
stub = stub.exe
output = plain.exe
token = PRODUCT
silent = 1
checksum = 0
[language English]
s0 = Setup
s11 =
[file]
source = engine.exe
engine = /LANG=DE
[file]
source = data.txt
compression = stored
time = 2024-05-17 13:45:30
[file]
source = empty.txt
M
sed -e 's/^output = .*/output = summed.exe/' -e '/^checksum/d' plain.txt > summed.txt
cat > web.txt <<'M'
[package]
stub = stub.exe
output = web.exe
update_url = http://example.test/upd
info_file = App.info
agent_exe = Agent.exe
web_setup = 1
is_update_agent = 1
allow_unsigned = 1
temp_drive_notice = 1
checksum = 0
[web]
base = http://example.test/dl
file = Full.exe
token = WEB
size = 1234
[language German]
s0 = Installation
[language Turkish]
Charset = 162
[file]
source = data.txt
M
cat > span.txt <<'M'
[package]
stub = stub.exe
output = span.exe
volume_size = 900
checksum = 0
[language English]
s0 = Setup
[file]
source = engine.exe
engine =
[file]
source = data.txt
compression = stored
M
cat > names.txt <<'M'
[package]
stub = stub.exe
output = names.exe
checksum = 0
[language English]
s0 = Setup
[file]
source = engine.exe
engine = /LANG=DE
[file]
source = names/
compression = stored
M
for m in plain summed web span names; do "$packer" build "$m.txt" >/dev/null; done
cp plain.exe summed.exe web.exe span.exe span.exe.002 names.exe rawnames.exe "$out/package/"
"$packer" inform "$out/package/inform.txt" --token PRODUCT --body "New <B>version</B>|x" >/dev/null
"$packer" inform "$out/package/inform-scrambled.txt" --token PRODUCT --body "Hello" --scrambled >/dev/null

# Extraction inputs: options byte, fault offset, volumes joined by the mark.
python3 - "$out/extract" <<'PY'
import sys, os
out = sys.argv[1]
mark = b"|ZSVOL|"
vol = lambda n: open(n, "rb").read()
cases = {
    "plain": (0x00, 0, [vol("plain.exe")]),
    "plain-agent": (0x10, 0, [vol("plain.exe")]),
    "summed": (0x01, 0, [vol("summed.exe")]),
    "web": (0x10, 0, [vol("web.exe")]),
    "span": (0x00, 0, [vol("span.exe"), vol("span.exe.002")]),
    "span-001-prompt": (0x26, 0, [vol("span.exe"), vol("span.exe.002")]),
    "span-missing": (0x04, 0, [vol("span.exe"), b"-"]),
    "span-empty-2": (0x00, 0, [vol("span.exe"), b""]),
    "read-fails": (0x40, 700, [vol("plain.exe")]),
    "short-reads": (0x80, 0, [vol("span.exe"), vol("span.exe.002")]),
    "write-fails": (0xC0, 100, [vol("plain.exe")]),
    "names": (0x00, 0, [vol("names.exe")]),
    "raw-names": (0x00, 0, [vol("rawnames.exe")]),
}
for name, (opt, fault, vols) in cases.items():
    data = bytes([opt, fault & 0xFF, fault >> 8]) + mark.join(vols)
    open(os.path.join(out, name), "wb").write(data)
PY

# Texts: a header of option bytes, then fields separated by 0x00.
python3 - "$out" <<'PY'
import sys, os
out = sys.argv[1]
def put(target, name, head, *fields):
    open(os.path.join(out, target, name), "wb").write(bytes(head) + b"\0".join(f.encode("latin-1") for f in fields))
put("markup", "error", [0x10, 0, 0, 0, 0, 0, ord("o"), ord("O")], "Unable to save<P><P>Data Size: <T>5 Bytes", "Error",
    "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|")
put("markup", "disk", [0x21, 1, 0, 0, 2, 177, ord("c"), ord("C")], "Please insert <B>DISK #2</B> and press OK\\\\nnow", "Con",
    "|&OK|&Cancel|")
put("markup", "nested", [0x23, 2, 0x18, 0, 1, 0, 0, ord("N")], "<<b>A</b> <b>x<B>y</b>z</B> </B>q<B>\\\\tend<t>", "Setup",
    "|OK||Ja|&Nein|")
put("pathmacros", "install", [3, 0, 0, 0, 0x40, 0x97, 0x80, ord("/")], "<InstallDir>Tool.exe", "\\", "user", "owner",
    "domain", "C:\\Apps\\Tool", "C:\\Common", "D:\\Aux", "C:\\Windows", "C:\\Temp")
put("pathmacros", "list", [3, 1, 5, 1, 0x40, 0x97, 0x80, ord("-")], "|<InstallDir>|<WinDir>|<Date=6>|<AbsoluteDir>..\\x|",
    "\\", "user", "owner", "domain", "C:\\Apps\\Tool", "C:\\Common", "D:\\Aux", "C:\\Windows", "C:\\Temp")
put("pathmacros", "mixed", [7, 2, 0xFF, 7, 0, 0, 0, ord(".")],
    "<Application Folder>\\\\<InstallDir> <RunTimeDir_3><FontDir><UserDir>\\\\x<Date=#><InstallDrive><OriginDisk><EnteredUserName>",
    "\\", "u", "o", "d", "C:\\A\\", "\\\\srv\\share", "", "C:\\W", "..\\t")
put("cmdline", "tail", [2, 1, ord('"'), 0], "\"C:\\Program Files\\App\\Setup.exe\" /WAIT=250 /STOP=1 /OriginExe=\"C:\\a b\\x.exe\"",
    "C:\\Program Files\\App\\Setup.exe", "/WAIT=", "C:\\Temp\\SETUP_1", "C:\\src\\Setup.exe")
put("cmdline", "list", [3, 6, ord("|"), 0], "|a||c|Name=Joe| Size =3|", "p|q", "Size=")
put("cmdline", "override", [0, 0, 0, 0], "|255|1|0|300|-1|x||7|", "1,2,3", "/_ZZ=")
put("cmdline", "engine", [1, 1, 0, 0], "Engine.exe* /LANG=DE /SpanCdLvl=2/SpanDiskFName1=x", "/TEST=5/WAIT=1", "/TEST=",
    "C:\\Temp\\SETUP 1\\", "C:\\src\\Setup.exe")
put("cmdline", "scrambled", [0, 0, 0, 0], "Scrambled=01!abc", "", "")
PY
