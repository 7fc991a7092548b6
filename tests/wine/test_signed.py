"""Signed updates under Wine: the Windows verifier (CNG) against releases
signed natively with OpenSSL, the agent's refusals of unsigned, tampered,
swapped and replayed releases with nothing shut down, an agent without a key
as before, and the web stub's pinned SHA-256 of its setup."""
import base64
import re
import shutil
import subprocess

import winelib
from agenttest import TOKEN as PRODUCT_TOKEN, Product, driver
from guidriver import Driver
from httpservers import Nginx
from signlib import check_cases, keygen, publish, run_packer, sha256, spoiled_cases
from stubtest import Setup, command_line, write_random
from winelib import case, exe, fresh_dir, wait_until, winpath

NO_CNG = {"WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=;bcrypt=d"}


@case
def windows_verifier_agrees_with_openssl():
    w = fresh_dir("signed_cross")
    cases = spoiled_cases(w / "table")
    check_cases(cases, exe=exe("packer.exe"))
    # Keys made by CNG sign releases that OpenSSL verifies, and CNG signs with
    # OpenSSL's older key form too.
    w2 = w / "winkeys"
    w2.mkdir()
    r = run_packer("keygen", w2 / "win.pem", w2 / "win.txt", exe=exe("packer.exe"))
    assert r.returncode == 0, r.stdout + r.stderr
    w3 = w / "sec1"
    w3.mkdir()
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", str(w3 / "k.pem")],
                   check=True)
    pub = subprocess.run(["openssl", "ec", "-in", str(w3 / "k.pem"), "-pubout", "-outform", "DER"],
                         capture_output=True, check=True).stdout[-64:]
    (w3 / "k.txt").write_text(base64.b64encode(pub).decode() + "\n")
    for folder, priv, pubfile in ((w2, w2 / "win.pem", w2 / "win.txt"), (w3, w3 / "k.pem", w3 / "k.txt")):
        (folder / "Update.exe").write_bytes(b"update" * 1000)
        (folder / "Product.info").write_text("[NewSetup]\nNameOfUpdateFile=Update.exe\nVersionNew=7\n")
        r = run_packer("publish", "--key", priv, "--info", folder / "Product.info", "--update", folder / "Update.exe",
                       exe=exe("packer.exe"))
        assert r.returncode == 0, r.stdout + r.stderr
        r = run_packer("verify", "--key", pubfile, "--info", folder / "Product.info")
        assert r.returncode == 0 and "signature valid" in r.stdout, (folder, r.stdout, r.stderr)
    # Without CNG nothing passes and nothing is signed.
    good = cases[0]
    r = winelib.run([exe("packer.exe"), "verify", "--key", winpath(good[2]), "--info",
                     winpath(good[1] / "Product.info")], env=NO_CNG)
    assert r.returncode == 1 and "no CNG" in r.stdout, r.stdout
    r = winelib.run([exe("packer.exe"), "keygen", winpath(w / "x.pem"), winpath(w / "x.txt")], env=NO_CNG)
    assert r.returncode == 1 and "CNG" in r.stderr and not (w / "x.pem").exists(), r.stderr


def signed_release(p, priv, **kw):
    p.release(**kw)
    publish(priv, p.srv / "Product.info", update=p.srv / "Update.exe" if (p.srv / "Update.exe").exists() else None)


def keyed_product(name, pub):
    return Product(fresh_dir(name), agent_keys={"update_public_key": str(pub)})


def finished(p, result, count=1):
    wait_until(lambda: p.log().count(f"PerformAutoUpdate() - END    Result={result}") >= count, 90,
               what=f"update result {result}")


# The published update's engine arguments are a little longer than the
# swapped one's, so the swap is no larger than published: it passes the size
# bound and the size test and only its SHA-256 gives it away.
PUBLISHED_ARGS = "/PUBLISHED=1"


def swap_update(p, **kw):
    """Replaces the served update by another package of the same product and
    nearly the same size, as a hostile server would after publishing."""
    published = (p.srv / "Update.exe").read_bytes()
    p.build_update("Swapped.exe", engine_args="/SWAPPED=1", **kw)
    (p.srv / "Swapped.exe").replace(p.srv / "Update.exe")
    assert -100 < len((p.srv / "Update.exe").read_bytes()) - len(published) <= 0
    assert (p.srv / "Update.exe").read_bytes() != published


def nothing_happened(p, app, version="100", what=""):
    assert app.alive() and p.program_running(), what
    assert not any(m[0] == 16 for m in app.messages()), what
    assert p.engine_report() is None, what
    assert p.original()["OriginalSetup"]["VersionOriginal"] == version, what
    assert not (p.install / "Update.exe").exists(), what


@case
def signed_release_installs():
    w = fresh_dir("signed_keys")
    priv, pub = keygen(w)
    with keyed_product("signed_install", pub) as p:
        signed_release(p, priv, version=101)
        p.start_program()
        p.start_agent()
        p.command(31, 1)
        finished(p, "TRUE")
        assert p.engine_report()
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        assert (p.install / "Product.info").read_bytes() == (p.srv / "Product.info").read_bytes()
        assert any("GET /upd/Product.info.sig" in l for l in p.nginx.access_log()), p.nginx.access_log()
        assert "refused" not in p.log()
        winelib.run([exe("proctool.exe"), "terminate", winpath(p.program), 1])


@case
def spoiled_releases_shut_nothing_down():
    w = fresh_dir("signed_keys2")
    priv, pub = keygen(w, "good")
    other_priv, _ = keygen(w, "other")
    with keyed_product("signed_refused", pub) as p:
        signed_release(p, priv, version=101, extra={"RequestConfirmationBeforeDownload": 1},
                       engine_args=PUBLISHED_ARGS)
        info, sig = p.srv / "Product.info", p.srv / "Product.info.sig"
        good_info, good_sig = info.read_bytes(), sig.read_bytes()
        shutil.copy(info, w / "other.info")
        publish(other_priv, w / "other.info")
        other_sig = (w / "other.info.sig").read_bytes()
        app = p.start_program()
        p.start_agent()
        p.command(30, 100000)  # the agent stays for every case
        checks = 0

        def check():
            nonlocal checks
            checks += 1
            p.command(31, 1)
            wait_until(lambda: len(re.findall(r"GetOkToPerformAU = \d", p.log())) >= checks, 60,
                       what=f"decision {checks}")
            return re.findall(r"GetOkToPerformAU = (\d)", p.log())[-1]

        info_cases = [
            ("one byte of the INFO changed", good_info.replace(b"Stamp=2", b"Stamp=3"), good_sig, "signature wrong"),
            ("no signature file", good_info, None, "signature file missing"),
            ("signature of another key", good_info, other_sig, "signature wrong"),
        ]
        for what, data, signature, why in info_cases:
            info.write_bytes(data)
            if signature is None:
                sig.unlink()
            else:
                sig.write_bytes(signature)
            refused = p.log().count("INFO file refused: " + why)
            assert check() == "0", what
            assert p.log().count("INFO file refused: " + why) == refused + 1, (what, p.log())
            nothing_happened(p, app, what=what)
            # Refused bytes never reach the agent folder.
            assert not (p.install / "Product.info").exists(), what

        # The signed INFO is fine, but the server swapped the package after publishing.
        info.write_bytes(good_info)
        sig.write_bytes(good_sig)
        swap_update(p)
        p.command(31, 1)
        d = driver()
        box = d.wait("ZMsgBox")
        assert "ANNOUNCE-Product" in box.dump()["text"]
        box.press("Yes")
        box.gone()
        box = d.wait("ZMsgBox")
        assert "not the one that was published" in box.dump()["text"], box.dump()["text"]
        box.press("OK")
        box.gone()
        finished(p, "FALSE")
        checks += 1
        assert "update file refused: SHA-256 differs from the published one" in p.log(), p.log()
        nothing_happened(p, app, what="swapped update")

        # A validly signed but older INFO file, replayed after a newer version was installed.
        p.write_original(version=102)
        assert check() == "3"
        nothing_happened(p, app, version="102", what="replayed INFO")
        assert "PerformAutoUpdate() - START" in p.log() and p.log().count("PerformAutoUpdate() - START") == 1


@case
def agent_without_key_takes_unsigned_releases_and_checks_published_hashes():
    with Product(fresh_dir("signed_nokey")) as p:
        p.release(version=101, engine_args=PUBLISHED_ARGS)
        publish(None, p.srv / "Product.info", update=p.srv / "Update.exe")
        assert not (p.srv / "Product.info.sig").exists()
        swap_update(p)
        app = p.start_program()
        p.start_agent()
        p.command(30, 100000)
        p.command(31, 1)
        finished(p, "FALSE")
        assert "update file refused: SHA-256 differs" in p.log()
        nothing_happened(p, app)
        # A plain release without hashes installs as it always did.
        p.release(version=101, stamp=3)
        p.command(31, 1)
        finished(p, "TRUE")
        assert p.engine_report()
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        winelib.run([exe("proctool.exe"), "terminate", winpath(p.program), 1])


@case
def signed_inform_file_is_shown_and_a_swapped_one_refused():
    w = fresh_dir("signed_keys4")
    priv, pub = keygen(w)
    with keyed_product("signed_inform", pub) as p:
        p.announce("Signed news")
        publish(priv, p.srv / "Product.info", inform=p.srv / "News.txt")
        p.start_agent()
        p.command(31, 1)
        win = driver().wait("ZRichEditBox")
        assert "Signed news" in win.dump()["text"]
        win.sysclose()
        win.gone()
        p.wait_log("PerformAutoInform() - END TRUE", 20)
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        # Published for 102, then the inform file is replaced on the server by
        # one of the same product (a valid token) with another text.
        p.announce("Signed news, again", version=102, stamp=3)
        publish(priv, p.srv / "Product.info", inform=p.srv / "News.txt")
        forged = w / "News.txt"
        r = subprocess.run([str(winelib.native("packer")), "inform", str(forged), "--token", PRODUCT_TOKEN, "--body",
                            "Forged news, again"], capture_output=True)
        assert r.returncode == 0, r.stderr
        assert forged.stat().st_size == (p.srv / "News.txt").stat().st_size
        forged.replace(p.srv / "News.txt")
        p.command(31, 1)
        p.wait_log("PerformAutoInform() - END FALSE", 30)
        assert "inform file refused: SHA-256 differs" in p.log(), p.log()
        assert not driver().exists("ZRichEditBox") and not driver().exists("ZMsgBox")
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        assert not (p.install / "News.txt").exists()


@case
def agent_with_key_fails_closed_without_cng():
    w = fresh_dir("signed_keys3")
    priv, pub = keygen(w)
    with keyed_product("signed_nocng", pub) as p:
        signed_release(p, priv, version=101)
        app = p.start_program()
        p.start_agent(env=NO_CNG)
        p.command(31, 1)
        p.wait_log("GetOkToPerformAU = 0", 60)
        assert "INFO file refused: signature cannot be checked: no CNG" in p.log(), p.log()
        nothing_happened(p, app)


# ---- the web stub ----
TOKEN = "WEB-TOKEN-1"


def real_setup(w, seed):
    w.mkdir(parents=True, exist_ok=True)
    s = Setup(w, "Real.exe")
    s.web = {"base": "http://127.0.0.1", "file": "Real.exe", "token": TOKEN}
    s.add_engine()
    write_random(w / "payload.bin", 50_000, seed=seed)
    s.add_file(w / "payload.bin", compression="stored")
    return s, s.build()


def web_stub(w, base, real, always):
    s = Setup(w, "Web.exe")
    s.package["web_setup"] = 1
    s.web = {"base": base, "file": "Real.exe", "always": always, "token": TOKEN, "size_of": str(real)}
    return s.build()


def error_text(stub, env=None):
    d = Driver(timeout_ms=30000)
    # Shown, not hidden: a hidden stub has nobody to show its error to.
    p = winelib.start([exe("launch.exe"), command_line(stub)], cwd=str(stub.parent), env=env)
    box = d.wait("ZMsgBox")
    info = box.dump()
    box.press("1")
    p.wait(60)  # ends by itself once the box is answered
    return info["text"]


@case
def web_stub_runs_only_the_setup_it_was_built_for():
    w = fresh_dir("signed_web")
    good_s, good = real_setup(w / "good", 1)
    bad_s, bad = real_setup(w / "swapped", 2)  # same token, other content
    with Nginx(w) as web:
        stub = web_stub(w, f"http://127.0.0.1:{web.port}", good, always=1)
        r = run_packer("inspect", stub)
        assert f"Sha256: {sha256(good)}" in r.stdout, r.stdout
        shutil.copy(bad, web.root / "Real.exe")
        assert "Bad Secret Token!" in error_text(stub)
        assert bad_s.read_report() is None
        assert not (winelib.wine_temp() / "Real.exe").exists(), "a refused download is deleted"
        # Without CNG the stub cannot tell, so it runs nothing.
        shutil.copy(good, web.root / "Real.exe")
        assert "Bad Secret Token!" in error_text(stub, env=NO_CNG)
        assert good_s.read_report() is None
        # The right file runs.
        assert winelib.run([exe("launch.exe"), command_line(stub, "/hide")], cwd=str(w), timeout=120).returncode == 0
        assert good_s.read_report()
    # A swapped setup beside the stub is refused and kept.
    w2 = fresh_dir("signed_web_local")
    local_s, local = real_setup(w2 / "good", 1)
    stub = web_stub(w2, "http://127.0.0.1:9", local, always=0)
    _, other = real_setup(w2 / "swapped", 2)
    shutil.copy(other, w2 / "Real.exe")
    assert "Bad Secret Token!" in error_text(stub)
    assert (w2 / "Real.exe").read_bytes() == other.read_bytes()


if __name__ == "__main__":
    winelib.main()
