"""Signed releases for the tests: keys, publishing and the table of spoiled
signatures, shared by the native packer tests and the Wine tests (which run
the same table through the Windows verifier)."""
import base64
import hashlib
import pathlib
import subprocess

import winelib

SPKI_P256 = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")


def run_packer(*args, exe=None):
    """The native packer, or the given Windows one under Wine."""
    if exe:
        return winelib.run([exe] + [winelib.winpath(a) if isinstance(a, pathlib.Path) else str(a) for a in args],
                           timeout=120)
    r = subprocess.run([str(winelib.native("packer"))] + [str(a) for a in args],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    r.stdout, r.stderr = r.stdout.decode("latin-1"), r.stderr.decode("latin-1")
    return r


def keygen(folder, name="pub"):
    """(private key path, public key path) made by the native packer."""
    folder = pathlib.Path(folder)
    priv, pub = folder / f"{name}-private.pem", folder / f"{name}-public.txt"
    r = run_packer("keygen", priv, pub)
    assert r.returncode == 0, r.stderr
    return priv, pub


def publish(priv, info, update=None, inform=None, extra=()):
    args = ["publish", "--info", info, *extra]
    if priv:
        args += ["--key", priv]
    if update:
        args += ["--update", update]
    if inform:
        args += ["--inform", inform]
    r = run_packer(*args)
    assert r.returncode == 0, r.stderr
    return r


def point(pub):
    return base64.b64decode(pathlib.Path(pub).read_text().strip())


def rs_to_der(rs):
    def integer(b):
        b = b.lstrip(b"\0") or b"\0"
        if b[0] & 0x80:
            b = b"\0" + b
        return b"\x02" + bytes([len(b)]) + b
    body = integer(rs[:32]) + integer(rs[32:])
    return b"\x30" + bytes([len(body)]) + body


def der_to_rs(der):
    def integer(at):
        assert der[at] == 2
        n = der[at + 1]
        return der[at + 2:at + 2 + n].lstrip(b"\0").rjust(32, b"\0"), at + 2 + n
    assert der[0] == 0x30
    r, at = integer(2)
    s, _ = integer(at)
    return r + s


def sign_as_is(priv, info):
    """Signs the INFO file's bytes with OpenSSL, whatever they say (the tool
    refuses some of them, such as an expiry that has passed)."""
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", str(priv), str(info)], capture_output=True,
                         check=True).stdout
    pathlib.Path(str(info) + ".sig").write_text(base64.b64encode(der_to_rs(der)).decode() + "\n")


def public_pem(pub):
    der = SPKI_P256 + b"\x04" + point(pub)
    lines = base64.encodebytes(der).decode().replace("\n", "")
    return "-----BEGIN PUBLIC KEY-----\n" + lines + "\n-----END PUBLIC KEY-----\n"


def openssl_verifies(pub, data_path, sig_path):
    """OpenSSL's own verdict on a signature file of the packer."""
    folder = pathlib.Path(data_path).parent
    (folder / "openssl-pub.pem").write_text(public_pem(pub))
    rs = base64.b64decode(pathlib.Path(sig_path).read_text().strip())
    (folder / "openssl-sig.der").write_bytes(rs_to_der(rs))
    r = subprocess.run(["openssl", "dgst", "-sha256", "-verify", str(folder / "openssl-pub.pem"), "-signature",
                        str(folder / "openssl-sig.der"), str(data_path)], capture_output=True)
    return r.returncode == 0


def sha256(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


INFO = ("[NewSetup]\r\nDownloadURL_UPDATE=http://example.test/upd\r\nNameOfUpdateFile=Update.exe\r\n"
        "VersionNew=101\r\nStamp=2\r\n")


def spoiled_cases(folder):
    """Folders each holding Product.info (+ .sig) and Update.exe, signed by the
    native packer and then spoiled one way: (what, folder, public key,
    expected exit code, expected verdict line)."""
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    priv, pub = keygen(folder, "good")
    _, other_pub = keygen(folder, "other")
    other_priv = folder / "other-private.pem"
    payload = bytes(range(256)) * 40

    def release(name, key=priv):
        d = folder / name
        d.mkdir()
        (d / "Update.exe").write_bytes(payload)
        (d / "Product.info").write_bytes(INFO.encode())
        publish(key, d / "Product.info", update=d / "Update.exe")
        return d

    def edit(path, fn):
        path.write_bytes(fn(path.read_bytes()))

    cases = []
    d = release("good")
    cases.append(("signed release", d, pub, 0, "signature: signature valid"))
    d = release("byte")
    edit(d / "Product.info", lambda b: b.replace(b"Stamp=2", b"Stamp=3"))
    cases.append(("one byte of the INFO changed", d, pub, 1, "signature: signature wrong"))
    d = release("otherkey", other_priv)
    cases.append(("signed with another key", d, pub, 1, "signature: signature wrong"))
    d = release("missing")
    (d / "Product.info.sig").unlink()
    cases.append(("no signature file", d, pub, 1, "signature: signature file missing"))
    d = release("truncated")
    edit(d / "Product.info.sig", lambda b: base64.b64encode(base64.b64decode(b)[:63]) + b"\n")
    cases.append(("truncated signature", d, pub, 1, "signature: signature file malformed"))
    d = release("long")
    edit(d / "Product.info.sig", lambda b: base64.b64encode(base64.b64decode(b) + b"\0") + b"\n")
    cases.append(("signature of the wrong length", d, pub, 1, "signature: signature file malformed"))
    d = release("notbase64")
    edit(d / "Product.info.sig", lambda b: b.replace(b"+", b"-").replace(b"/", b"_") if b"+" in b or b"/" in b
         else b"*" + b[1:])
    cases.append(("not base64", d, pub, 1, "signature: signature file malformed"))
    d = release("flipped")
    edit(d / "Product.info.sig", lambda b: base64.b64encode(bytes([base64.b64decode(b)[0] ^ 1]) +
                                                            base64.b64decode(b)[1:]) + b"\n")
    cases.append(("one bit of the signature flipped", d, pub, 1, "signature: signature wrong"))
    d = release("swapped")
    (d / "Update.exe").write_bytes(payload[::-1])
    cases.append(("update swapped after publishing", d, pub, 1, "update file Update.exe: SHA-256 differs"))
    d = folder / "nohash"
    d.mkdir()
    (d / "Update.exe").write_bytes(payload)
    (d / "Product.info").write_bytes(INFO.encode())
    publish(priv, d / "Product.info")
    cases.append(("signed without the update's hash", d, pub, 1, "update file Update.exe: no SHA-256 published"))
    d = release("badhash")
    text = (d / "Product.info").read_text()
    h = sha256(d / "Update.exe")
    (d / "Product.info").write_text(text.replace(h, h[:-1]))
    publish(priv, d / "Product.info")
    cases.append(("published hash malformed", d, pub, 1, "update file Update.exe: published SHA-256 malformed"))
    return cases


def check_cases(cases, exe=None):
    for what, d, pub, code, line in cases:
        r = run_packer("verify", "--key", pub, "--info", d / "Product.info", exe=exe)
        assert r.returncode == code, (what, r.returncode, r.stdout, r.stderr)
        assert line in r.stdout, (what, r.stdout)
