"""The trusted update channel under Wine, with the project's packer and CNG:
an agent with two keys takes a release signed by either, refuses a replayed
older INFO file by its serial and an expired one by its date (and tells its
client), and refuses an update package that would leave an agent copy with
another key or none; the copy that a setup writes keeps the key and its
checksum."""
import datetime
import pathlib
import re
import shutil

import winelib
from agenttest import AGENT, Product
from signlib import keygen, point, publish, run_packer, sign_as_is
from winelib import case, fresh_dir, wait_until, winpath


def fingerprint(pub):
    return point(pub)[:8].hex()


def decisions(p):
    return re.findall(r"GetOkToPerformAU = (\d)", p.log())


def check(p):
    """One ordered check; returns its decision."""
    before = len(decisions(p))
    p.command(31, 1)
    wait_until(lambda: len(decisions(p)) > before, 60, what="a decision")
    return decisions(p)[-1]


def finished(p, result, count=1):
    wait_until(lambda: p.log().count(f"PerformAutoUpdate() - END    Result={result}") >= count, 90,
               what=f"update result {result}")


def signed(p, priv, serial, version=101, expires=None, stale=None, **kw):
    """A release signed with its serial; expires through the tool, or stale:
    an expiry date that has passed (the tool refuses to sign that)."""
    if stale:
        p.release(version=version, general={"Serial": serial, "Expires": stale}, **kw)
        sign_as_is(priv, p.srv / "Product.info")
        return
    p.release(version=version, **kw)
    extra = ["--serial", str(serial)]
    if expires:
        extra += ["--expires", expires]
    publish(priv, p.srv / "Product.info", update=p.srv / "Update.exe", extra=extra)


def unix_path(path):
    drive, _, rest = path.partition(":\\")
    root = winelib.PREFIX / "drive_c" if drive.upper() == "C" else pathlib.Path("/")
    return root / rest.replace("\\", "/")


def base64_key(pub):
    return pathlib.Path(pub).read_text().strip()


def nothing_installed(p, what):
    assert p.engine_report() is None, what
    assert p.original()["OriginalSetup"]["VersionOriginal"] == "100", what
    assert not (p.install / "Update.exe").exists(), what


@case
def replayed_or_expired_info_files_install_nothing_and_either_key_signs():
    w = fresh_dir("trust_keys")
    current_priv, current = keygen(w, "current")
    next_priv, following = keygen(w, "next")
    keys = {"update_public_key": f"{current},{following}"}
    with Product(fresh_dir("trust_serial"), agent_keys=keys) as p:
        app = p.start_program()
        p.start_agent()
        p.command(30, 100000)  # the agent stays for every case

        # Nothing new, but the serial of this key is recorded.
        signed(p, current_priv, 200, version=100)
        assert check(p) == "3", p.log()
        assert p.original()["InfoSerial"][fingerprint(current)] == "200"

        # The withdrawn release, replayed with its older serial: refused.
        signed(p, current_priv, 150, version=101)
        assert check(p) == "0"
        assert "INFO file refused: serial lower than the one accepted before: an older INFO file (150 after 200)" \
            in p.log(), p.log()
        assert (45, 1) in p.pairs(), p.pairs()
        nothing_installed(p, "replayed")

        # A newer serial, but past its last day: refused, and the client told.
        yesterday = (datetime.datetime.now(datetime.timezone.utc).date() - datetime.timedelta(days=1)).isoformat()
        signed(p, current_priv, 300, version=101, stale=yesterday)
        assert check(p) == "0"
        assert f"INFO file refused: INFO file expired (last day {yesterday}, UTC)" in p.log(), p.log()
        assert (45, 2) in p.pairs(), p.pairs()
        nothing_installed(p, "expired")
        assert p.original()["InfoSerial"][fingerprint(current)] == "200"

        # The next key signs with its own serials: a low one is fine for it,
        # and the release installs.
        tomorrow = (datetime.datetime.now(datetime.timezone.utc).date() + datetime.timedelta(days=1)).isoformat()
        signed(p, next_priv, 5, version=101, expires=tomorrow)
        p.command(31, 1)
        finished(p, "TRUE")
        assert p.engine_report()
        assert p.original()["OriginalSetup"]["VersionOriginal"] == "101"
        serials = p.original()["InfoSerial"]
        assert serials[fingerprint(following)] == "5" and serials[fingerprint(current)] == "200", serials
        winelib.run([winelib.exe("proctool.exe"), "terminate", winpath(p.program), 1])
        del app


@case
def an_update_without_the_agents_trust_is_refused_before_anything_is_shut_down():
    w = fresh_dir("trust_keys2")
    priv, pub = keygen(w)
    with Product(fresh_dir("trust_copy"), agent_keys={"update_public_key": str(pub)}) as p:
        # Built as an ordinary setup: no key, no agent fields.
        keys, p.agent_keys = p.agent_keys, {}
        p.release(version=101)
        p.agent_keys = keys
        publish(priv, p.srv / "Product.info", update=p.srv / "Update.exe")
        app = p.start_program()
        p.start_agent()
        p.command(30, 100000)
        p.command(31, 1)
        finished(p, "FALSE")
        assert "update package refused: the update package carries no publisher key: it would leave an agent " \
               "that takes unsigned updates" in p.log(), p.log()
        assert app.alive() and p.program_running()
        nothing_installed(p, "untrusted update")

        # A trusted package that the server serves a little larger than
        # published (within the size test's tolerance): cut off, refused.
        p.release(version=101, stamp=3)
        publish(priv, p.srv / "Product.info", update=p.srv / "Update.exe")
        with open(p.srv / "Update.exe", "ab") as f:
            f.write(b"\0" * 40)
        p.command(31, 1)
        finished(p, "FALSE", count=2)
        assert "download failed: File larger than published" in p.log(), p.log()
        nothing_installed(p, "larger than published")

        # With the agent's trust: the agent copy that the update's setup
        # writes beside its engine is whole and keeps the key.
        p.release(version=101, stamp=4, engine_args="/ZT_SLEEP=20000")
        publish(priv, p.srv / "Product.info", update=p.srv / "Update.exe")
        p.command(31, 1)
        wait_until(lambda: p.engine_report() is not None, 90, what="the engine's report")
        copy = unix_path(p.engine_report()["ExePath"]).parent / AGENT
        assert copy.exists(), copy
        shutil.copyfile(copy, w / "copy.exe")
        r = run_packer("inspect", "--json", w / "copy.exe")
        assert r.returncode == 0 and "PROBLEM" not in r.stdout, r.stdout
        assert base64_key(pub) in r.stdout, r.stdout
        finished(p, "TRUE")
        winelib.run([winelib.exe("proctool.exe"), "terminate", winpath(p.program), 1])


if __name__ == "__main__":
    winelib.main()
