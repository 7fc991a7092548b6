"""The message box under Wine, driven like a user would through guidriver.

boxdemo shows boxes (one process can show a script of several, one after
the other, each with its own title) and writes one result per box.
"""
import subprocess
import time

import winelib
from guidriver import Driver, keep_desktop
from winelib import case, exe, fresh_dir, winpath

BOX = "ZMsgBox"
YNC = "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"

driver = Driver()


class Demo:
    """One boxdemo process showing the given boxes (list of option dicts)."""

    def __init__(self, name, boxes, extra=()):
        self.dir = fresh_dir("msgbox_" + name)
        self.result = self.dir / "result.txt"
        self.report = self.dir / "report.txt"
        script = self.dir / "boxes.txt"
        lines = ["\t".join(f"/{k}={v}" for k, v in box.items()) for box in boxes]
        script.write_text("\n".join(lines) + "\n", encoding="latin-1")
        keep_desktop()
        self.proc = winelib.start([exe("boxdemo.exe"), "/script=" + winpath(script),
                                   "/result=" + winpath(self.result), "/report=" + winpath(self.report),
                                   *extra])

    def finish(self, timeout=30):
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("boxdemo did not end")
        results = [int(x) for x in self.result.read_text().split()] if self.result.exists() else []
        return code, results

    def report_lines(self):
        return self.report.read_text().splitlines() if self.report.exists() else []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()


def box(title, **opts):
    return {"title": title, **opts}


@case
def button_sets_return_their_results():
    # (style, captions left to right, button to press, expected result)
    table = [
        (0, ["&OK"], "OK", 1),
        (1, ["&OK", "&Cancel"], "&Cancel", 2),
        (1, ["&OK", "&Cancel"], "1", 1),
        (2, ["&Abort", "&Retry", "&Ignore"], "Abort", 3),
        (2, ["&Abort", "&Retry", "&Ignore"], "Retry", 4),
        (2, ["&Abort", "&Retry", "&Ignore"], "3", 5),
        (3, ["&Yes", "&No", "&Cancel"], "Yes", 6),
        (3, ["&Yes", "&No", "&Cancel"], "No", 7),
        (3, ["&Yes", "&No", "&Cancel"], "Cancel", 2),
        (4, ["&Yes", "&No"], "yes", 6),
        (4, ["&Yes", "&No"], "No", 7),
        (5, ["&Retry", "&Cancel"], "Retry", 4),
        (5, ["&Retry", "&Cancel"], "2", 2),
    ]
    boxes = [box(f"set {i}", style=style, text="Pick one") for i, (style, *_rest) in enumerate(table)]
    with Demo("sets", boxes) as demo:
        for i, (style, captions, press, _) in enumerate(table):
            w = driver.wait(BOX, title=f"set {i}")
            assert w.buttons() == captions, i
            w.press(press)
            w.gone()
        code, results = demo.finish()
    assert results == [r for *_x, r in table], results
    assert code == table[-1][3]


@case
def button_data_and_layout():
    with Demo("layout", [box("layout", style=3, text="Short")]) as demo:
        w = driver.wait(BOX, title="layout")
        info = w.dump()
        width = int(info["client"].split(",")[0])
        rects = [[int(v) for v in info[f"button{k}_rect"].split(",")] for k in range(3)]
        assert [int(info[f"button{k}_data"]) for k in range(3)] == [6, 7, 2]
        assert all(r[2:] == [70, 23] for r in rects), rects
        assert rects[2][0] + 70 == width - 10, (rects, width)  # Cancel ends 10 pixels from the right
        assert rects[1][0] == rects[2][0] - 70 and rects[0][0] == rects[1][0] - 70  # touching
        assert int(info["rect"].split(",")[2]) >= 360  # a short text still gives the minimum width
        w.press("Cancel")
        assert demo.finish()[1] == [2]


@case
def keys_choose_buttons():
    # (style, keys sent, expected result)
    table = [
        (3, [("altkey", "n")], 7),
        (3, [("altkey", "N")], 7),
        (3, [("key", "N")], 7),
        (3, [("key", "c")], 2),
        (3, [("key", "RETURN")], 6),            # focus starts on the first button
        (3 | 0x100, [("key", "RETURN")], 7),    # MB_DEFBUTTON2
        (1 | 0x200, [("key", "RETURN")], 1),    # third of two buttons: 2 mod 2 = first
        (3, [("key", "RIGHT"), ("key", "RETURN")], 7),
        (3, [("key", "TAB"), ("key", "TAB"), ("key", "TAB"), ("key", "RETURN")], 6),  # wraps round
        (3, [("key", "LEFT"), ("key", "RETURN")], 2),
        (3, [("key", "ESCAPE"), ("key", "X"), ("altkey", "y")], 6),  # Escape and X do nothing
    ]
    boxes = [box(f"keys {i}", style=style, text="Keys") for i, (style, _, _) in enumerate(table)]
    with Demo("keys", boxes) as demo:
        for i, (style, keys, _) in enumerate(table):
            w = driver.wait(BOX, title=f"keys {i}")
            if style == 1 | 0x200:
                assert w.dump()["focus"] == "0"
            for kind, k in keys:
                getattr(w, kind)(k)
            w.gone()
        _, results = demo.finish()
    assert results == [r for *_x, r in table], results


@case
def timeout_presses_the_first_button():
    # ConfirmYesNo with a timeout answers Yes by itself; a plain box too.
    with Demo("timeout", [box("t1", kind="yesno", text="Wait", timeout=1500),
                          box("t2", style=5, text="Wait", timeout=800)]) as demo:
        _, results = demo.finish(timeout=40)
    assert results == [1, 4], results


@case
def closing_without_a_button():
    # (owner code, how it is closed, still open afterwards?)
    table = [
        (1, "close", False),
        (1, "sysclose", False),
        (2, "close", False),
        (2, "sysclose", True),
    ]
    boxes = [box(f"close {i}", owner=owner, style=1, text="Close me") for i, (owner, _, _) in enumerate(table)]
    with Demo("close", boxes) as demo:
        for i, (owner, how, stays) in enumerate(table):
            w = driver.wait(BOX, title=f"close {i}")
            grey = w.dump()["closegrey"]
            if grey != "?":  # the window menu may not be readable from another process
                assert grey == ("1" if owner == 2 else "0"), (owner, grey)
            getattr(w, how)()
            if stays:
                time.sleep(1.0)
                assert w.alive(), "box with greyed Close closed on SC_CLOSE"
                w.press("OK")
            w.gone()
        _, results = demo.finish()
    assert results == [0, 0, 0, 1], results


@case
def body_text_header_and_bold():
    # (options, caption, text, bold ranges)
    table = [
        (dict(kind="error", owner=0, text="Disk <b>full</b>.<p>Try again"), "Error",
         "ERROR\r\n\r\nDisk full.\r\nTry again\r\n", "0-5,14-18"),
        (dict(kind="attention", owner=0, text="a<T>b\\\\nc"), "Attention",
         "ATTENTION\r\n\r\na\tb\r\nc\r\n", "0-9"),
        (dict(owner=0, title="Setup", style=0, text="x"), "Setup", "Setup\r\n\r\nx\r\n", "0-5"),
        (dict(owner=0, title="Con", style=0, text="x"), "Con", "CON\r\n\r\nx\r\n", "0-3"),
        (dict(owner=1, title="Plain", style=0, text="One</B> <B>two</B>"), "Plain", "One two", ""),
    ]
    boxes = [dict(opts, title=opts.get("title", "")) for opts, *_ in table]
    with Demo("body", boxes) as demo:
        for opts, caption, text, bold in table:
            w = driver.wait(BOX, title=caption)
            info = w.dump()
            assert info["caption"] == caption
            assert info["text"].rstrip("\r\n") == text.rstrip("\r\n"), repr(info["text"])
            assert info["bold"] == bold, (caption, info["bold"])
            assert w.buttons() == ["&OK"]
            w.press("OK")
            w.gone()
        demo.finish()


@case
def charset_turns_the_body_right_to_left():
    table = [(177, "1"), (178, "1"), (0, "0"), (186, "0")]
    boxes = [box(f"cs {cs}", charset=cs, text="Shalom") for cs, _ in table]
    with Demo("rtl", boxes) as demo:
        for cs, flag in table:
            w = driver.wait(BOX, title=f"cs {cs}")
            info = w.dump()
            assert (info["text_right"], info["text_rtl"]) == (flag, flag), (cs, info["text_style"])
            w.press("OK")
            w.gone()
        demo.finish()


@case
def long_line_wraps_at_six_hundred_pixels():
    long_text = "word " * 400
    with Demo("wrap", [box("wrap", text=long_text), box("short", text="Hi")]) as demo:
        w = driver.wait(BOX, title="wrap")
        rect = [int(v) for v in w.dump()["text_rect"].split(",")]
        assert rect[2] == 610, rect  # 600 + 10
        w.press("OK")
        w.gone()
        w = driver.wait(BOX, title="short")
        info = w.dump()
        assert int(info["text_rect"].split(",")[2]) < 200
        assert int(info["rect"].split(",")[2]) == 360
        w.press("OK")
        demo.finish()


@case
def owner_window_is_disabled_while_the_box_is_open():
    with Demo("owner", [box("owned", ownerwin=1, owner=1, text="Owned"),
                        box("by handle", owner="window", text="Owned")], extra=["/autoplay"]) as demo:
        w = driver.wait(BOX, title="owned")
        owner = driver.wait("ZBoxDemoOwner", bare=True)
        assert owner.dump()["enabled"] == "0"
        assert w.dump()["owner"] == owner.hwnd
        assert w.send("QueryCancelAutoPlay") == 1
        w.press("OK", bmclick=True)
        w.gone()
        w = driver.wait(BOX, title="by handle")
        assert w.dump()["owner"] == owner.hwnd
        w.press("OK")
        _, results = demo.finish()
    assert results == [1, 1]
    first = demo.report_lines()[0]
    assert "owner_enabled=1" in first and "owner_active=1" in first, first


if __name__ == "__main__":
    winelib.main()
