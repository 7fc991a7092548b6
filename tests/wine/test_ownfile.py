"""The stub holds its own file from its first line to its end: while a setup
asks its first question (or an agent waits before making its copy), another
program of the user can neither rename, overwrite nor delete it, and what
runs afterwards comes from the file that was started."""
import winelib
from winelib import case, fresh_dir, winpath, wait_until
from guidriver import Driver
from stubtest import Setup, run_stub
from agenttest import Product


def attempts(target, other):
    """What another program may try on the started file; each must leave it as it was."""
    t, o = winpath(target), winpath(other)
    return [
        ("rename it away", ["cmd", "/c", "move", "/y", t, t + ".old"]),
        ("overwrite it", ["cmd", "/c", "copy", "/y", o, t]),
        ("delete it", ["cmd", "/c", "del", "/f", "/q", t]),
        ("rename another file onto it", ["cmd", "/c", "move", "/y", o, t]),
    ]


def assert_untouched(target, original, other):
    for what, command in attempts(target, other):
        winelib.run(command)
        assert target.exists(), f"{what}: the started file is gone"
        assert target.read_bytes() == original, f"{what}: the started file was changed"
        assert not target.with_name(target.name + ".old").exists(), f"{what}: the started file was renamed"


@case
def setup_asking_its_question_is_held_and_runs_its_own_engine():
    w = fresh_dir("own_setup")
    s = Setup(w)
    s.package["temp_drive_notice"] = 1  # a question before the extraction
    s.add_engine()
    exe = s.build()
    other_s = Setup(fresh_dir("own_setup_other"))
    other_s.add_engine()
    other = other_s.build()
    original = exe.read_bytes()
    p = run_stub(exe, wait=False)
    box = Driver(timeout_ms=60000).wait("ZMsgBox")
    assert "Temp Drive" in box.dump()["text"]
    assert_untouched(exe, original, other)
    box.press("Yes")
    assert p.wait(120) == 0
    assert other_s.read_report() is None, "the other setup's engine ran"
    assert s.read_report(), "the started setup's engine did not run"
    # Once the stub has ended the file is free again.
    winelib.run(["cmd", "/c", "del", "/f", "/q", winpath(exe)])
    assert not exe.exists()


@case
def agent_waiting_to_copy_itself_is_held_and_its_copy_is_the_started_agent():
    w = fresh_dir("own_agent")
    with Product(w) as product:
        original = product.agent.read_bytes()
        other = w / "Other.exe"
        other.write_bytes(winelib.exe("testwindows.exe").read_bytes())
        p = run_stub(product.agent, "/WAIT=15", wait=False)
        # The plain agent waits before it writes its X_ copy.
        wait_until(lambda: winelib.run([winelib.exe("proctool.exe"), "running", winpath(product.agent)],
                                       expect_output=True).stdout.strip() == "TRUE", 30, what="the plain agent")
        assert_untouched(product.agent, original, other)
        assert p.wait(90) == 0
        wait_until(product.x_windows, 30, what="the X_ copy's window")
        copy = product.install / "X_Agent.exe"
        assert copy.read_bytes() == original, "the X_ copy is not the started agent"


if __name__ == "__main__":
    winelib.main()
