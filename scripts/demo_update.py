"""The update demo: an installed product (version 100) with its update
agent, which carries the publisher's key; an update (version 101) built for
that agent, published and signed with a serial and an expiry, checked with
packer verify and served by nginx on 127.0.0.1; the agent is asked for a
check and carries the update out. Prints what happened.
Run by scripts/demo.sh update (which sets the ZS_* folders and the prefix)."""
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "wine"))
import winelib  # noqa: E402
from agenttest import Product  # noqa: E402
from signlib import keygen, run_packer  # noqa: E402
from stubtest import Setup  # noqa: E402
from winelib import exe, wait_until, winpath  # noqa: E402


def programs(p):
    out = winelib.run([exe("proctool.exe"), "list"]).stdout
    want = winpath(p.program).lower()
    return [int(l.split(" ", 1)[0]) for l in out.splitlines() if l.split(" ", 1)[-1].strip().lower() == want]


def build_update(p):
    """The update package: its header (address, INFO file, agent name, token,
    key) taken from the installed agent, which refuses any other."""
    s = Setup(p.srv, "Update.exe")
    s.package["updates_agent"] = str(p.agent)
    s.add_file(exe("testengine.exe"), name="Engine.exe", engine=f'/ZT_REPORT="{winpath(p.report)}"')
    return s.build()


def packer(*args):
    r = run_packer(*args)
    for line in (r.stdout + r.stderr).splitlines():
        print("   " + line)
    if r.returncode != 0:
        raise SystemExit(f"packer {args[0]} failed")


def main():
    work = winelib.WORK / "update-demo"
    import shutil
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    winelib.keep_desktop()
    (work / "keys").mkdir()
    print("== the publisher's key pair (packer keygen)")
    priv, pub = keygen(work / "keys", "app")
    with Product(work, agent_keys={"update_public_key": str(pub)}) as p:
        print(f"== the agent {p.agent.name} carries the public key")
        inspect = run_packer("inspect", p.agent).stdout
        print("   " + next(line for line in inspect.splitlines() if line.startswith("  Signed:")).strip())
        update = build_update(p)
        p.release(version=101, build=False, size=update.stat().st_size)
        info = p.srv / "Product.info"
        print("== publishing version 101: size, SHA-256, serial and expiry, then the signature")
        packer("publish", "--key", priv, "--info", info, "--update", update, "--expires-in", 30, "--agent", p.agent)
        print("== checking the release as the agent will (packer verify --agent)")
        packer("verify", "--agent", p.agent, "--info", info)
        print(f"== installed in {winpath(p.install)}; the server offers {p.base}/Update.exe (version 101)")
        print(f"   version before: {p.original()['OriginalSetup']['VersionOriginal']}")
        app = p.start_program()
        print(f"   the installed program runs as process {app.pid}")
        hwnd, agent_pid = p.start_agent()
        print(f"   the agent's X_ copy runs as process {agent_pid}; asking it for a check (agent command 31)")
        p.command(31, 1)
        p.wait_log("PerformAutoUpdate() - END", 120)
        rep = p.engine_report() or {}
        print("== the update's setup engine saw")
        print(f"   command line: {rep.get('CommandLine', '(the engine did not run)')}")
        print(f"   version after: {p.original()['OriginalSetup']['VersionOriginal']}")
        print(f"   update package left in the install folder: {(p.install / 'Update.exe').exists()}")
        restarted = wait_until(lambda: [x for x in programs(p) if x != app.pid], 30, what="the program's restart")
        print(f"   the program was closed (WM_CLOSE) and restarted as process {restarted[0]}")
        print("   waiting for the agent's hand-over (the new agent waits 10 s before it starts its copy)")
        rows = wait_until(lambda: [r for r in p.x_windows() if r[1] != agent_pid], 60, what="the new agent")
        print(f"   old agent {agent_pid} ended; new agent's X_ copy runs as process {rows[0][1]}")
        print(f"   notifications to the client: {p.pairs()}")
        print("== the agent's log")
        for line in p.log().splitlines():
            if any(k in line for k in ("GetOkToPerformAU", "PerformAutoUpdate", "Shut Down", "ReStart", "Download",
                                       "INFO file", "signature", "refused")):
                print("   " + line)
        winelib.run([exe("proctool.exe"), "terminate", winpath(p.program), 1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
