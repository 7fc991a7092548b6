"""Releases that cannot be forged, rolled back or frozen, from the packer's
side: agents and web stubs signed by default, two keys for rotation, update
packages that take the header of the agent they update, serial and expiry
written by publish, and verify checking a release as the agent would."""
import datetime
import json
import os
import pathlib
import shutil
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "wine"))
from packerlib import fake_stub, fresh, packer  # noqa: E402
from signlib import keygen  # noqa: E402
from winelib import case, main  # noqa: E402

AGENT = """[package]
stub = stub.exe
output = AppAgent.exe
update_url = http://updates.example.test/app
info_file = App.info
agent_exe = AppAgent.exe
token = APP-1
is_update_agent = 1
{extra}
[language English]
s0 = App Update
"""

UPDATE = """[package]
stub = stub.exe
output = rel/AppUpdate102.exe
{extra}
[language English]
s0 = App Update
[file]
source = engine.exe
engine =
"""

INFO = "[NewSetup]\nNameOfUpdateFile=AppUpdate102.exe\nVersionNew=102\nValidVersions=100,101\n"


def folder(name):
    """A fresh folder with a stub, an engine and the keys k1, k2, k3."""
    d = fresh(name)
    fake_stub(d / "stub.exe")
    (d / "engine.exe").write_bytes(os.urandom(3000))
    for k in ("k1", "k2", "k3"):
        keygen(d, k)
    return d


def build(d, text, name="m.txt"):
    (d / name).write_text(text)
    return packer("build", name, cwd=d)


def built(d, text, name="m.txt"):
    r = build(d, text, name)
    assert r.returncode == 0, (text, r.stderr)
    return r


def line_of(text, start):
    """Number of the first manifest line that starts with `start`."""
    return next(i for i, l in enumerate(text.splitlines(), 1) if l.startswith(start))


def product(name, keys="k1-public.txt,k2-public.txt"):
    """An agent with the keys and an update built for it (rel/AppUpdate102.exe)."""
    d = folder(name)
    built(d, AGENT.format(extra=f"update_public_key = {keys}"), "agent.txt")
    built(d, UPDATE.format(extra="updates_agent = AppAgent.exe"), "update.txt")
    (d / "rel/App.info").write_text(INFO)
    return d


def key_text(d, k):
    return (d / f"{k}-public.txt").read_text().strip()


def header(path):
    doc = json.loads(packer("inspect", "--json", path).stdout)
    return doc["header"], doc["webSetup"]


def today():
    return datetime.datetime.now(datetime.timezone.utc).date()


def openssl_sign(priv, info):
    """The signature file of an INFO file that publish would not write (an
    expired one, one without a serial), signed by OpenSSL itself."""
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(priv), str(info)], capture_output=True,
                         check=True).stdout
    r_len = der[3]
    r = der[4:4 + r_len]
    s = der[6 + r_len:6 + r_len + der[5 + r_len]]
    rs = int.from_bytes(r, "big").to_bytes(32, "big") + int.from_bytes(s, "big").to_bytes(32, "big")
    import base64
    pathlib.Path(str(info) + ".sig").write_text(base64.b64encode(rs).decode() + "\n")


@case
def agents_and_web_stubs_are_refused_unsigned_unless_allowed():
    d = folder("trust_default")
    (d / "Real.exe").write_bytes(b"real setup")
    base = "[package]\nstub = stub.exe\noutput = out/X.exe\n{pkg}\n[language English]\ns0 = x\n{rest}"
    engine = "[file]\nsource = engine.exe\nengine =\n"
    refused = [
        ("agent", "is_update_agent = 1", "", "is_update_agent", "is_update_agent = 1 without update_public_key"),
        ("setup that writes an agent copy", "agent_exe = A.exe\nwrite_agent_copy = 1", engine, "write_agent_copy",
         "write_agent_copy = 1 without update_public_key"),
        ("web stub with a size", "web_setup = 1", "[web]\nfile = Real.exe\nsize = 10\n", "[web]",
         "[web] without size_of"),
        ("web stub without a size", "web_setup = 1", "[web]\nfile = Real.exe\n", "[web]", "[web] without size_of"),
    ]
    for what, pkg, rest, at, words in refused:
        text = base.format(pkg=pkg, rest=rest)
        shutil.rmtree(d / "out", ignore_errors=True)
        r = build(d, text)
        line = line_of(text, at)
        assert r.returncode == 1, (what, r.stderr)
        for part in (f"m.txt:{line}: {words}", "anyone on the network path", "administrator rights",
                     "allow_unsigned = 1"):
            assert part in r.stderr, (what, part, r.stderr)
        assert not (d / "out").exists() or os.listdir(d / "out") == [], what
        # Allowed, it builds and says what it built.
        text = base.format(pkg=pkg + "\nallow_unsigned = 1", rest=rest)
        r = built(d, text)
        assert f"packer: warning: m.txt:{line_of(text, at)}: {words}" in r.stderr, (what, r.stderr)
    fine = [
        ("agent with a key", "is_update_agent = 1\nupdate_public_key = k1-public.txt", ""),
        ("web stub with size_of", "web_setup = 1", "[web]\nfile = Real.exe\nsize_of = Real.exe\n"),
        ("real setup carrying the web token", "", "[web]\nfile = Real.exe\ntoken = W\n" + engine),
        ("allow_unsigned on a signed agent", "is_update_agent = 1\nupdate_public_key = k1-public.txt\n"
         "allow_unsigned = 1", ""),
    ]
    for what, pkg, rest in fine:
        r = built(d, base.format(pkg=pkg, rest=rest))
        assert "warning" not in r.stderr, (what, r.stderr)


@case
def inspect_tells_how_many_keys_and_whether_the_setup_is_pinned():
    d = folder("trust_inspect")
    (d / "Real.exe").write_bytes(b"real setup")
    k1, k2 = key_text(d, "k1"), key_text(d, "k2")
    web = "[web]\nfile = Real.exe\n"
    rows = [
        # extra package lines, [web] lines, Signed line, KeyCount, key field, Pinned line (None: no web string)
        ("update_public_key = k1-public.txt", "", "yes (1 key)", 1, k1, None),
        ("update_public_key = k1-public.txt, k2-public.txt", "", "yes (2 keys)", 2, f"{k1},{k2}", None),
        ("allow_unsigned = 1", "", "no (takes unsigned updates)", 0, "", None),
        ("update_public_key = k2-public.txt\nweb_setup = 1", web + "size_of = Real.exe\n", "yes (1 key)", 1, k2,
         "yes (SHA-256)"),
        ("update_public_key = k2-public.txt\nweb_setup = 1\nallow_unsigned = 1", web + "size = 10\n", "yes (1 key)", 1,
         k2, "no (only the web token is checked)"),
    ]
    for extra, webtext, signed, count, field, pinned in rows:
        built(d, AGENT.format(extra=extra) + webtext)
        r = packer("inspect", d / "AppAgent.exe")
        assert r.returncode == 0, r.stdout
        assert f"  Signed: {signed}\n" in r.stdout, (extra, r.stdout)
        assert f"  UpdatePublicKey: {field or '(none: unsigned updates)'}\n" in r.stdout, (extra, r.stdout)
        h, w = header(d / "AppAgent.exe")
        assert (h["Signed"], h["KeyCount"], h["UpdatePublicKey"]) == (count > 0, count, field), (extra, h)
        if pinned:
            assert f"  Pinned: {pinned}\n" in r.stdout, (extra, r.stdout)
            assert w["Pinned"] == pinned.startswith("yes"), (extra, w)
        else:
            assert w is None and "Pinned" not in r.stdout

    # A key field that is not one or two keys: the agent refuses every update.
    built(d, AGENT.format(extra="update_public_key = k1-public.txt\nchecksum = 0"))
    data = (d / "AppAgent.exe").read_bytes()
    (d / "AppAgent.exe").write_bytes(data.replace(k1[:8].encode(), b"!" * 8))
    r = packer("inspect", d / "AppAgent.exe")
    assert r.returncode == 1 and "  Signed: malformed key field\n" in r.stdout, r.stdout
    assert "PROBLEM: UpdatePublicKey is not one key or two" in r.stdout and "result: FAILED (1 problem)" in r.stdout

    # The key list of the manifest.
    (d / "bad.txt").write_text("not a key\n")
    for value, words in [
        ("k1-public.txt,k1-public.txt", "the same key twice"),
        ("k1-public.txt,k2-public.txt,k3-public.txt", "names 3 keys; an agent holds at most two"),
        ("k1-public.txt,", "expected one public-key file, or two separated by a comma"),
        ("k1-public.txt,bad.txt", "bad.txt: not a public key"),
        ("k1-public.txt,none.txt", "cannot read the public key"),
    ]:
        text = AGENT.format(extra=f"update_public_key = {value}")
        r = build(d, text)
        assert r.returncode == 1, (value, r.stderr)
        assert f"m.txt:{line_of(text, 'update_public_key')}: " in r.stderr and words in r.stderr, (value, r.stderr)


@case
def an_update_takes_the_header_of_the_agent_it_updates():
    d = product("trust_updates_agent")
    agent, _ = header(d / "AppAgent.exe")
    # write_agent_copy needs no key of its own: it comes from the agent.
    built(d, UPDATE.format(extra="updates_agent = AppAgent.exe\nwrite_agent_copy = 1\nagent_exe = AppAgent.exe"))
    upd, _ = header(d / "rel/AppUpdate102.exe")
    for k in ("UpdateUrl", "InfoFileName", "AgentExeName", "UpdatePublicKey", "KeyCount"):
        assert upd[k] == agent[k], (k, upd, agent)
    assert upd["PackageToken"] == "valid"
    # A new server, and a key set that keeps one of the agent's keys (the
    # next key coming, the old one going), are the publisher's to give.
    built(d, UPDATE.format(extra="updates_agent = AppAgent.exe\nupdate_url = http://other.example.test/app\n"
                                 "update_public_key = k2-public.txt"))
    upd, _ = header(d / "rel/AppUpdate102.exe")
    assert upd["UpdateUrl"] == "http://other.example.test/app" and upd["KeyCount"] == 1, upd
    mismatches = [
        ("info_file = Other.info", "info_file \"Other.info\" differs from the agent's \"App.info\""),
        ("agent_exe = Other.exe", "agent_exe \"Other.exe\" differs from the agent's \"AppAgent.exe\""),
        ("token = OTHER-1", "token differs from the agent's"),
        ("update_public_key = k3-public.txt", "update_public_key differs from the agent's"),
    ]
    for given, words in mismatches:
        text = UPDATE.format(extra="updates_agent = AppAgent.exe\n" + given)
        r = build(d, text)
        assert r.returncode == 1, (given, r.stderr)
        assert f"m.txt:{line_of(text, given.split(' ')[0])}: {words}" in r.stderr, (given, r.stderr)
        assert "the agent would refuse this update" in r.stderr and "OTHER-1" not in r.stderr, r.stderr
    # Agents that cannot be updated this way.
    built(d, UPDATE.format(extra="output = Plain.exe"), "plain.txt")
    built(d, AGENT.format(extra="update_public_key = k1-public.txt").replace("token = APP-1\n", "")
          .replace("output = AppAgent.exe", "output = NoToken.exe"), "notoken.txt")
    for target, words in [("nothere.exe", "holds no package"), ("engine.exe", "holds no package"),
                          ("Plain.exe", "is no update agent"), ("NoToken.exe", "has no product token")]:
        text = UPDATE.format(extra=f"updates_agent = {target}")
        r = build(d, text)
        assert r.returncode == 1, (target, r.stderr)
        assert f"m.txt:{line_of(text, 'updates_agent')}: updates_agent: " in r.stderr and words in r.stderr, \
            (target, r.stderr)


@case
def publish_writes_a_growing_serial_and_the_expiry():
    d = product("trust_serial")
    info = d / "rel/App.info"
    args = ["--key", d / "k1-private.pem", "--info", info]

    def published(*extra):
        r = packer("publish", *args, *extra)
        assert r.returncode == 0, (extra, r.stderr)
        return r

    def general(key):
        lines = info.read_text().split("[General]\n", 1)[1].splitlines()
        return next((l.split("=", 1)[1] for l in lines if l.startswith(key + "=")), None)

    before = int(time.time())
    published()
    first = int(general("Serial"))
    assert before <= first <= int(time.time()), first
    # Publishing twice within a second still makes the serial grow.
    published()
    assert int(general("Serial")) > first
    r = published("--serial", first + 100)
    assert int(general("Serial")) == first + 100 and f"serial {first + 100}, expires never" in r.stdout
    # Not above the file's serial: refused, nothing written.
    kept = info.read_bytes(), (d / "rel/App.info.sig").read_bytes()
    for serial in (first + 100, first):
        r = packer("publish", *args, "--serial", serial)
        assert r.returncode == 1 and f"--serial {serial} is not above the INFO file's Serial={first + 100}" in r.stderr
        assert (info.read_bytes(), (d / "rel/App.info.sig").read_bytes()) == kept

    # The expiry: a date, or a number of days from today (UTC).
    published("--expires", "2099-12-31")
    assert general("Expires") == "2099-12-31"
    published()
    assert general("Expires") == "2099-12-31", "kept when not given"
    for days in (0, 30):
        start = today()
        published("--expires-in", days)
        assert general("Expires") in {str(start + datetime.timedelta(days)), str(today() + datetime.timedelta(days))}
    kept = info.read_bytes()
    usage = [["--expires", "2027-02-29"], ["--expires", "2027-13-01"], ["--expires", "27-01-01"],
             ["--expires", "tomorrow"], ["--expires-in", "-1"], ["--expires-in", "x"], ["--expires-in", "36501"],
             ["--expires", "2099-01-01", "--expires-in", "3"], ["--serial", "abc"], ["--serial", "0"],
             ["--serial", "-5"]]
    for extra in usage:
        r = packer("publish", *args, *extra)
        assert r.returncode == 2, (extra, r.returncode, r.stderr)
    r = packer("publish", *args, "--expires", "2020-01-01")
    assert r.returncode == 1 and "--expires 2020-01-01 has passed" in r.stderr, r.stderr
    assert info.read_bytes() == kept
    # What an INFO file already holds is judged too.
    for text, words in [(INFO + "[General]\nExpires=2020-01-01\n", "Expires=2020-01-01 has passed"),
                        (INFO + "[General]\nExpires=someday\n", "Expires=someday is not a date"),
                        (INFO + "[General]\nSerial=12a\n", "Serial=12a is not a number")]:
        info.write_text(text)
        r = packer("publish", *args)
        assert r.returncode == 1 and words in r.stderr, (text, r.stderr)
        assert info.read_text() == text


@case
def publish_says_plainly_what_is_wrong_with_the_key():
    d = product("trust_keys")
    info = d / "rel/App.info"
    r = packer("publish", "--info", info)
    assert r.returncode == 0 and "warning: no --key" in r.stderr, r.stderr
    assert "agents with a publisher key refuse it" in r.stderr and not (d / "rel/App.info.sig").exists()
    pem_public = subprocess.run(["openssl", "pkey", "-in", d / "k1-private.pem", "-pubout"], capture_output=True,
                                check=True).stdout
    (d / "public.pem").write_bytes(pem_public)
    subprocess.run(["openssl", "pkcs8", "-topk8", "-in", d / "k1-private.pem", "-out", d / "encrypted.pem",
                    "-passout", "pass:secret"], check=True, capture_output=True)
    (d / "notes.txt").write_text("hello\n")
    kept = info.read_bytes()
    for key, words in [("k1-public.txt", "this is a public key; publish signs with the private key"),
                       ("public.pem", "this is a public key"),
                       ("encrypted.pem", "the private key is encrypted"),
                       ("notes.txt", "not a private key (no BEGIN PRIVATE KEY line)")]:
        r = packer("publish", "--key", d / key, "--info", info)
        assert r.returncode == 1 and words in r.stderr, (key, r.stderr)
        assert "error:" not in r.stderr and "DECODER" not in r.stderr, r.stderr
        assert info.read_bytes() == kept and not (d / "rel/App.info.sig").exists()


@case
def publish_with_the_agent_refuses_what_the_agent_would():
    d = product("trust_publish_agent")
    rel = d / "rel"
    good = (rel / "AppUpdate102.exe").read_bytes()
    # Update packages the agent would refuse, each beside the same INFO file.
    foreign = UPDATE.replace("output = rel/AppUpdate102.exe", "output = rel/{name}")
    fields = ("update_url = http://updates.example.test/app\ninfo_file = App.info\nagent_exe = AppAgent.exe\n"
              "update_public_key = k1-public.txt,k2-public.txt\n")
    built(d, foreign.format(name="Foreign.exe", extra=fields + "token = OTHER-1"), "foreign.txt")
    built(d, foreign.format(name="Elsewhere.exe", extra=fields.replace("updates.", "mirror.") + "token = APP-1"),
          "elsewhere.txt")
    built(d, foreign.format(name="OldKey.exe", extra=fields.replace(",k2-public.txt", "") + "token = APP-1"),
          "oldkey.txt")
    (rel / "Cut.exe").write_bytes(good[:-30])
    info = rel / "App.info"
    cases = [
        ("Foreign.exe", "k2", "App.info", "Foreign.exe: token: differs from the agent's; the agent would refuse it"),
        ("OldKey.exe", "k2", "App.info",
         "OldKey.exe: update_public_key: not the key that signs this release; the agent would refuse it"),
        ("Cut.exe", "k2", "App.info", "Cut.exe: not a whole setup: volume 1:"),
        ("AppUpdate102.exe", "k3", "App.info", "k3-private.pem is not one of the agent's keys"),
        ("AppUpdate102.exe", None, "App.info", "the agent takes only signed INFO files"),
        ("AppUpdate102.exe", "k2", "Other.info", "the INFO file is Other.info, but the agent fetches App.info"),
    ]
    for update, key, name, words in cases:
        target = rel / name
        target.write_text(INFO.replace("AppUpdate102.exe", update))
        args = ["--info", target, "--update", rel / update, "--agent", d / "AppAgent.exe"]
        if key:
            args += ["--key", d / f"{key}-private.pem"]
        r = packer("publish", *args)
        assert r.returncode == 1, (update, key, name, r.stderr)
        assert words in r.stderr and "nothing written" in r.stderr, (update, key, name, r.stderr)
        assert target.read_text() == INFO.replace("AppUpdate102.exe", update)
        assert not pathlib.Path(str(target) + ".sig").exists()
    # A package on a new server is the publisher's choice: the signed INFO file pins it.
    target = rel / "App.info"
    target.write_text(INFO.replace("AppUpdate102.exe", "Elsewhere.exe"))
    r = packer("publish", "--info", target, "--update", rel / "Elsewhere.exe", "--agent", d / "AppAgent.exe",
               "--key", d / "k2-private.pem")
    assert r.returncode == 0, r.stderr
    # The next key of the two already signs for this agent.
    info.write_text(INFO)
    r = packer("publish", "--key", d / "k2-private.pem", "--info", info, "--update", rel / "AppUpdate102.exe",
               "--agent", d / "AppAgent.exe", "--expires-in", "30")
    assert r.returncode == 0, r.stderr


def release(name):
    """A release published for a two-key agent with its next key."""
    d = product(name)
    r = packer("publish", "--key", d / "k2-private.pem", "--info", d / "rel/App.info", "--update",
               d / "rel/AppUpdate102.exe", "--agent", d / "AppAgent.exe", "--expires-in", "30")
    assert r.returncode == 0, r.stderr
    return d


@case
def verify_passes_a_good_release_and_says_who_signed_it():
    d = release("trust_verify_good")
    info = d / "rel/App.info"
    r = packer("verify", "--agent", d / "AppAgent.exe", "--info", info)
    assert r.returncode == 0, r.stdout + r.stderr
    serial = info.read_text().split("Serial=")[1].split()[0]
    for line in ["signature: signature valid (key 2 of 2)", f"serial: {serial}",
                 f"expires: {today() + datetime.timedelta(30)} (30 days left)",
                 "version: VersionNew=102 is above every ValidVersions entry (100,101)",
                 "update file AppUpdate102.exe: size ", "update file AppUpdate102.exe: SHA-256 matches",
                 "update file AppUpdate102.exe: a whole setup with the agent's token and header fields",
                 "result: OK"]:
        assert line in r.stdout, (line, r.stdout)
    r = packer("verify", "--key", d / "k2-public.txt", "--token", "APP-1", "--info", info)
    assert r.returncode == 0 and "update file AppUpdate102.exe: token matches" in r.stdout, r.stdout


@case
def verify_fails_each_fault_on_its_own_line():
    base = release("trust_verify_base")
    rel = base / "rel"
    k2 = base / "k2-private.pem"
    agent = ["--agent", base / "AppAgent.exe"]

    def copy(name):
        d = base.parent / f"trust_verify_{name}"
        shutil.rmtree(d, ignore_errors=True)
        shutil.copytree(rel, d)
        return d

    def republish(d, **edit):
        text = INFO
        for k, v in edit.items():
            text = text.replace(k, v)
        (d / "App.info").write_text(text)
        r = packer("publish", "--key", k2, "--info", d / "App.info", "--update", d / "AppUpdate102.exe")
        assert r.returncode == 0, r.stderr

    def signed_by_openssl(d, text):
        (d / "App.info").write_text(text)
        openssl_sign(k2, d / "App.info")

    cases = []
    d = copy("token")
    built(base, UPDATE.replace("output = rel/AppUpdate102.exe", f"output = {d}/AppUpdate102.exe").format(
        extra="update_url = http://updates.example.test/app\ninfo_file = App.info\nagent_exe = AppAgent.exe\n"
              "update_public_key = k1-public.txt,k2-public.txt\ntoken = OTHER-1"), "other.txt")
    republish(d)
    cases.append(("foreign token", d, agent, "update file AppUpdate102.exe: token: differs from the agent's"))
    cases.append(("foreign token, --token", d, ["--key", base / "k2-public.txt", "--token", "APP-1"],
                  "update file AppUpdate102.exe: token differs from --token"))
    d = copy("nokey")
    built(base, UPDATE.replace("output = rel/AppUpdate102.exe", f"output = {d}/AppUpdate102.exe").format(
        extra="token = APP-1\nupdate_public_key = k3-public.txt"), "nokey.txt")
    republish(d)
    cases.append(("a package without the key", d, ["--key", base / "k2-public.txt", "--token", "APP-1"],
                  "update_public_key: the package does not carry the key of --key"))
    d = copy("version")
    republish(d, **{"ValidVersions=100,101": "ValidVersions=100,102"})
    cases.append(("VersionNew not above ValidVersions", d, agent,
                  "version: VersionNew=102 is not above ValidVersions entry 102"))
    d = copy("listed")
    republish(d, **{"ValidVersions=100,101": "ValidVersions=100, 101"})
    cases.append(("a ValidVersions entry no installation matches", d, agent,
                  'version: ValidVersions entry " 101" is not a plain number'))
    d = copy("cut")
    (d / "AppUpdate102.exe").write_bytes((d / "AppUpdate102.exe").read_bytes()[:-30])
    republish(d)  # sizes and hash of the cut file: only its being whole can tell
    cases.append(("cut package", d, agent, "update file AppUpdate102.exe: not a whole setup: volume 1: "))
    d = copy("missing")
    (d / "AppUpdate102.exe").unlink()
    cases.append(("package not there", d, agent, "update file AppUpdate102.exe: not beside the INFO file"))
    signed = (rel / "App.info").read_text()
    serial_line = next(l for l in signed.splitlines() if l.startswith("Serial="))
    expires_line = next(l for l in signed.splitlines() if l.startswith("Expires="))
    d = copy("expired")
    signed_by_openssl(d, signed.replace(expires_line, "Expires=2020-01-01"))
    cases.append(("expired", d, agent, "expires: 2020-01-01 has passed"))
    d = copy("baddate")
    signed_by_openssl(d, signed.replace(expires_line, "Expires=2027-02-29"))
    cases.append(("malformed expiry", d, agent, 'expires: "2027-02-29" is not a date (YYYY-MM-DD)'))
    d = copy("noserial")
    signed_by_openssl(d, signed.replace(serial_line + "\n", ""))
    cases.append(("no serial", d, agent, "serial: missing"))
    d = copy("badserial")
    signed_by_openssl(d, signed.replace(serial_line, "Serial=7x"))
    cases.append(("malformed serial", d, agent, 'serial: "7x" is malformed'))
    d = copy("size")
    (d / "App.info").write_text(signed.replace("SizeOfUpdateFile=", "SizeOfUpdateFile=1"))
    cases.append(("size edited, unsigned check", d, ["--allow-unsigned"], ", but SizeOfUpdateFile=1"))
    d = copy("rotated")
    cases.append(("signed with the next key, checked with the old one", d, ["--key", base / "k1-public.txt"],
                  "signature: signature wrong"))
    for what, d, opts, line in cases:
        r = packer("verify", *opts, "--info", d / "App.info")
        assert r.returncode == 1, (what, r.stdout, r.stderr)
        assert line in r.stdout and "result: FAILED (1 problem)" in r.stdout, (what, line, r.stdout)

    # Several faults: one line each.
    d = copy("several")
    signed_by_openssl(d, signed.replace(expires_line, "Expires=2020-01-01").replace("101", "102"))
    (d / "AppUpdate102.exe").write_bytes(b"x" * 10)
    r = packer("verify", *agent, "--info", d / "App.info")
    for line in ("expires: 2020-01-01 has passed", "is not above ValidVersions entry 102", ": size 10, but",
                 "SHA-256 differs", "not a whole setup", "result: FAILED (5 problems)"):
        assert line in r.stdout, (line, r.stdout)


@case
def verify_needs_a_key_unless_unsigned_is_allowed():
    d = release("trust_verify_key")
    info = d / "rel/App.info"
    r = packer("verify", "--info", info)
    assert r.returncode == 1 and "verify needs the publisher's public key" in r.stderr, r.stderr
    assert r.stdout == ""
    # An agent without a key takes unsigned files; checking a release for it is said out loud.
    built(d, AGENT.format(extra="allow_unsigned = 1").replace("output = AppAgent.exe", "output = Plain.exe"), "p.txt")
    r = packer("verify", "--agent", d / "Plain.exe", "--info", info)
    assert r.returncode == 1 and "carries no publisher key" in r.stderr and "--allow-unsigned" in r.stderr, r.stderr
    # Allowed, the rest is still checked.
    (d / "rel/AppUpdate102.exe").write_bytes((d / "rel/AppUpdate102.exe").read_bytes()[::-1])
    r = packer("verify", "--allow-unsigned", "--info", info)
    assert "signature: not signed (allowed)" in r.stdout and "SHA-256 differs" in r.stdout, r.stdout
    assert r.returncode == 1
    usage = [["--key", d / "k1-public.txt", "--agent", d / "AppAgent.exe"],
             ["--agent", d / "AppAgent.exe", "--token", "APP-1"], ["--key", d / "k1-public.txt", "--token", ""]]
    for opts in usage:
        assert packer("verify", *opts, "--info", info).returncode == 2, opts


main()
