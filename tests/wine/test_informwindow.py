"""The inform window under Wine, driven like a user would through guidriver.

boxdemo /kind=inform shows it (a script shows several, one after the other).
The announced page is served by nginx; Wine hands http links to the
programs named in HKCU\\Software\\Wine\\WineBrowser "Browsers", so a small
script there stands in for the browser: it records the link it got and
fetches it, and nginx's access log shows the request.
"""
import subprocess

import winelib
from browser import Browser
from guidriver import Driver, keep_desktop
from httpservers import Nginx
from winelib import DebugViewer, case, exe, fresh_dir, wait_until, winpath

CLS = "ZRichEditBox"
WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0xC00000, 0x80000, 0x40000
WS_VSCROLL = 0x200000
WS_EX_DLGMODALFRAME = 0x1
ES_MULTILINE, ES_READONLY = 0x4, 0x800

driver = Driver()


class Demo:
    """One boxdemo process showing the given inform windows (option dicts)."""

    def __init__(self, workdir, windows):
        self.dir = workdir
        self.result = workdir / "result.txt"
        self.report = workdir / "report.txt"
        self.out = workdir / "stdout.txt"
        script = workdir / "windows.txt"
        lines = ["\t".join(f"/{k}={v}" for k, v in {"kind": "inform", **w}.items()) for w in windows]
        script.write_text("\n".join(lines) + "\n", encoding="latin-1")
        keep_desktop()
        self.stdout = open(self.out, "wb")
        self.proc = winelib.start([exe("boxdemo.exe"), "/script=" + winpath(script),
                                   "/result=" + winpath(self.result), "/report=" + winpath(self.report)],
                                  stdout=self.stdout)

    def finish(self, timeout=30):
        try:
            code = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            raise AssertionError("boxdemo did not end")
        self.stdout.close()
        results = [int(x) for x in self.result.read_text().split()] if self.result.exists() else []
        return code, results

    def printed(self):
        return self.out.read_text(encoding="latin-1").split()

    def report_lines(self):
        return self.report.read_text().splitlines() if self.report.exists() else []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
        self.stdout.close()


def ints(text):
    return [int(v) for v in text.split(",")]


def check_layout(info, with_button):
    """Text control and button where they belong for the current client size."""
    W, H = ints(info["client"])
    if with_button:
        assert ints(info["text_rect"]) == [3, 0, W - 3, H - 43], (info["text_rect"], W, H)
        assert ints(info["button0_rect"]) == [(W - 160) // 2, H - 33, 160, 25], (info["button0_rect"], W, H)
    else:
        assert ints(info["text_rect"]) == [3, 0, W - 3, H], (info["text_rect"], W, H)
        assert "button0" not in info, info


@case
def button_opens_the_link_and_closes_the_window():
    d = fresh_dir("informwindow_button")
    # A body that starts like RTF is still shown as the plain characters.
    body = "{\\rtf1\\ansi {\\b Version 2.0} is out.}\r\nSee what is new.\r\nThird line"
    (d / "body.txt").write_bytes(body.encode("latin-1"))
    with Nginx(d) as web, Browser(d) as browser, DebugViewer(d) as viewer:
        (web.root / "news.html").write_text("<p>news</p>")
        url = web.url("news.html")
        with Demo(d, [{"title": "New Version", "button": "Download", "link": f"  {url}  ",
                       "textfile": winpath(d / "body.txt"), "owner": "window"}]) as demo:
            w = driver.wait(CLS, title="New Version")
            info = w.dump()
            assert info["text"] == body, repr(info["text"])
            assert info["bold"] == "", info["bold"]
            assert info["text_class"].upper() == "RICHEDIT"
            text_style = int(info["text_style"], 16)
            assert text_style & ES_READONLY and text_style & ES_MULTILINE, info["text_style"]
            assert info["text_right"] == "0" and info["text_rtl"] == "0"
            assert w.buttons() == ["Download"]
            assert info["button0_data"] == "1"
            assert info["focus"] == "0" and info["default"] == "0", (info["focus"], info["default"])
            style, exstyle = int(info["style"], 16), int(info["exstyle"], 16)
            assert style & WS_CAPTION == WS_CAPTION and style & WS_SYSMENU and style & WS_THICKFRAME, info["style"]
            assert exstyle & WS_EX_DLGMODALFRAME, info["exstyle"]
            assert ints(info["rect"])[2:] == [360, 360], info["rect"]
            assert info["owner"] != "0x0"
            check_layout(info, True)
            assert browser.links() == []  # nothing opens before the press
            w.press("Download")
            w.gone()
            code, results = demo.finish()
            assert (code, results) == (1, [1])
            assert demo.printed() == ["inform=1"], demo.printed()
            # The owner is not disabled by the window.
            assert "owner_enabled=1" in demo.report_lines()[0], demo.report_lines()
        wait_until(lambda: any("GET /news.html" in line for line in web.access_log()), 20,
                   what="the request of the link")
        assert browser.links() == [url], browser.links()  # trimmed, opened once
        viewer.wait_for("ShowInformWindow: opening " + url)


@case
def resizing_places_control_and_button_again():
    d = fresh_dir("inform_resize")
    with Demo(d, [{"title": "resize", "link": "http://127.0.0.1:9/x", "text": "Resize me"}]) as demo:
        w = driver.wait(CLS, title="resize")
        for width, height in [(800, 500), (300, 240), (361, 401)]:
            w.resize(width, height)
            info = w.dump()
            assert ints(info["rect"])[2:] == [width, height], (info["rect"], width, height)
            check_layout(info, True)
        # Dragged smaller than usable, it stops where button and some lines still fit.
        w.resize(40, 40)
        info = w.dump()
        W, H = ints(info["client"])
        assert W >= 240 and H >= 43 + 60, info["client"]
        check_layout(info, True)
        w.close()  # the title-bar close: no link is opened, the body was shown
        w.gone()
        assert demo.finish() == (1, [1])


@case
def without_link_the_text_fills_the_window():
    d = fresh_dir("inform_nolink")
    with Browser(d) as browser:
        with Demo(d, [{"title": "plain", "text": "No button here"},
                      {"title": "rtl", "text": "Right to left", "rtl": "1", "width": "500", "height": "300"}]) as demo:
            w = driver.wait(CLS, title="plain")
            info = w.dump()
            assert info["text"] == "No button here"
            assert w.buttons() == [] and not any(c[0] == "Button" for c in info["children"]), info["children"]
            check_layout(info, False)
            w.sysclose()  # Close from the window menu or Alt+F4
            w.gone()
            w = driver.wait(CLS, title="rtl")
            info = w.dump()
            assert info["text_right"] == "1" and info["text_rtl"] == "1"
            assert ints(info["rect"])[2:] == [500, 300], info["rect"]
            check_layout(info, False)
            w.close()
            w.gone()
            assert demo.finish() == (1, [1, 1])
        assert browser.links() == []


@case
def empty_body_opens_the_link_at_once():
    d = fresh_dir("inform_nobody")
    with Nginx(d) as web, Browser(d) as browser:
        (web.root / "page.html").write_text("page")
        url = web.url("page.html")
        with Demo(d, [{"title": "never shown", "link": url, "text": ""},
                      {"title": "never shown either", "link": "", "text": ""}]) as demo:
            # No window waits for the user: the process ends by itself.
            code, results = demo.finish()
            assert results == [1, 0], results
            assert demo.printed() == ["inform=1", "inform=0"], demo.printed()
        wait_until(lambda: any("GET /page.html" in line for line in web.access_log()), 20,
                   what="the request of the link")
        assert browser.links() == [url]
    assert not driver.exists(CLS)


@case
def links_other_than_http_are_refused():
    d = fresh_dir("inform_refused")
    refused = ["file:///C:/windows/notepad.exe", "FILE:C:\\windows\\notepad.exe", "\\\\server\\share\\setup.exe",
               "C:\\windows\\notepad.exe", "notepad", "ftp://127.0.0.1/x"]
    windows = [{"title": "file link", "link": "file:///C:/windows/notepad.exe", "text": "Body stays readable"}]
    windows += [{"title": f"refused {i}", "link": link, "text": ""} for i, link in enumerate(refused)]
    with Browser(d) as browser, DebugViewer(d) as viewer:
        with Demo(d, windows) as demo:
            w = driver.wait(CLS, title="file link")
            info = w.dump()
            assert info["text"] == "Body stays readable"
            w.press("Download")  # closes the window, opens nothing
            w.gone()
            code, results = demo.finish()
            assert results == [1] + [0] * len(refused), results
        viewer.wait_for("link not opened", 10)
        wait_until(lambda: viewer.text().count("link not opened") == 1 + len(refused), 10,
                   what="one refusal line per link")
        assert "ShowInformWindow: opening" not in viewer.text(), viewer.text()
        assert "(not an http:// or https:// address): file:///C:/windows/notepad.exe" in viewer.text()
    assert browser.links() == []
    assert not any(w[1].lower() == "notepad" for w in driver.windows())


@case
def sizes_are_clamped_to_a_usable_window():
    d = fresh_dir("inform_sizes")
    long_body = "".join(f"line {i:05d} of a long announcement\r\n" for i in range(1500))  # over 32K characters
    (d / "long.txt").write_bytes(long_body.encode("latin-1"))
    cases = [("zero", 0, 0), ("negative", -400, -5), ("tiny", 1, 1), ("huge", 5000, 4000)]
    windows = [{"title": name, "width": w, "height": h, "link": "http://127.0.0.1:9/", "text": "Sized"}
               for name, w, h in cases]
    windows.append({"title": "long", "textfile": winpath(d / "long.txt")})
    with Demo(d, windows) as demo:
        rects = {}
        for name, _, _ in cases:
            w = driver.wait(CLS, title=name)
            info = w.dump()
            rects[name] = ints(info["rect"])
            W, H = ints(info["client"])
            assert W >= 240 and H >= 43 + 60, (name, info["client"])
            check_layout(info, True)
            w.close()
            w.gone()
        assert rects["zero"][2:] == [360, 360] and rects["negative"][2:] == [360, 360], rects
        x, y, w_, h_ = rects["huge"]
        assert x >= 0 and y >= 0 and w_ < 5000 and h_ < 4000, rects["huge"]
        w = driver.wait(CLS, title="long")
        info = w.dump()
        assert info["text"] == long_body, len(info["text"])
        assert int(info["text_style"], 16) & WS_VSCROLL, info["text_style"]  # a long text scrolls
        w.close()
        w.gone()
        assert demo.finish() == (1, [1] * (len(cases) + 1))


@case
def quit_request_closes_the_window_and_is_handed_back():
    d = fresh_dir("inform_quit")
    with Demo(d, [{"title": "quit", "text": "Waiting", "link": "http://127.0.0.1:9/", "quitafter": "1500"}]) as demo:
        code, results = demo.finish()
        assert results == [1], results
        assert demo.report_lines() == ["result=1 quit=7"], demo.report_lines()
    assert not driver.exists(CLS)


if __name__ == "__main__":
    winelib.main()
