"""Announcements: a check whose INFO file asks for an inform message fetches
the inform file, shows it in the inform window and records the version as
seen. An installed product (agenttest.Product) with nginx on 127.0.0.1 and a
stand-in browser for the link."""
import time

import winelib
from agenttest import Product, driver
from browser import Browser
from winelib import case, fresh_dir, wait_until

CLS = "ZRichEditBox"


def version(p):
    return p.original()["OriginalSetup"]["VersionOriginal"]


def page_requests(p):
    return [l for l in p.nginx.access_log() if "/news.html" in l]


@case
def button_opens_the_page_and_the_version_counts_as_seen():
    w = fresh_dir("inform_button")
    with Browser(w) as browser, Product(w) as p:
        (p.nginx.root / "news.html").write_text("<p>new</p>")
        link = p.nginx.url("news.html")
        p.announce("Hello|World", link=link)
        p.start_agent()
        p.command(31, 1)
        d = driver()
        win = d.wait(CLS)
        info = win.dump()
        assert info["caption"] == "New Version", info
        assert "Hello|World" in info["text"], info
        assert "Download" in win.buttons(), win.buttons()
        win.press("Download")
        win.gone()
        wait_until(lambda: browser.links() == [link], 20, what="the link to be opened")
        wait_until(lambda: page_requests(p), 20, what="the page request")
        p.wait_log("PerformAutoInform() - END TRUE", 20)
        assert version(p) == "101"
        assert (41, 1) in p.pairs() and (41, 2) in p.pairs() and (42, 1) not in p.pairs(), p.pairs()
        # Announced again under a new stamp, the same version is no longer newer.
        p.announce("Hello|World", link=link, stamp=3)
        p.command(31, 1)
        p.wait_log("GetOkToPerformAU = 3", 20)


@case
def closing_by_the_title_bar_also_records_the_version():
    w = fresh_dir("inform_close")
    with Browser(w) as browser, Product(w) as p:
        p.announce("Plain text body", link=p.nginx.url("news.html"))
        p.start_agent()
        p.command(31, 1)
        win = driver().wait(CLS)
        win.sysclose()
        win.gone()
        p.wait_log("PerformAutoInform() - END TRUE", 20)
        assert version(p) == "101" and browser.links() == []


@case
def empty_body_opens_the_link_at_once():
    w = fresh_dir("inform_empty")
    with Browser(w) as browser, Product(w) as p:
        link = p.nginx.url("news.html")
        p.announce("", link=link)
        p.start_agent()
        p.command(31, 1)
        p.wait_log("PerformAutoInform() - END TRUE", 30)
        wait_until(lambda: browser.links() == [link], 20, what="the link to be opened")
        assert not driver().exists(CLS)
        assert version(p) == "101"


@case
def foreign_token_shows_an_error_and_keeps_the_version():
    with Product(fresh_dir("inform_token")) as p:
        p.announce("Hello", token="OTHER-1")
        p.start_agent()
        p.command(31, 1)
        box = driver().wait("ZMsgBox")
        assert "Bad Secret Token!" in box.dump()["text"]
        box.press("OK")
        box.gone()
        p.wait_log("PerformAutoInform() - END FALSE", 20)
        assert version(p) == "100"
        assert not (p.install / "News.txt").exists()


@case
def file_link_is_refused():
    w = fresh_dir("inform_file")
    with Browser(w) as browser, winelib.DebugViewer(w) as dv, Product(w) as p:
        p.announce("Look", link="file:///C:/windows/notepad.exe")
        p.start_agent()
        p.command(31, 1)
        win = driver().wait(CLS)
        win.press("Download")
        win.gone()
        dv.wait_for("link not opened", 20)
        time.sleep(2)
        assert browser.links() == []


if __name__ == "__main__":
    winelib.main()
