"""A stand-in browser for a test prefix: Wine hands http links to the
programs named in HKCU\\Software\\Wine\\WineBrowser "Browsers"; this script
records the link it got and fetches it, so the server's log shows it too."""
import stat

import winelib


class Browser:
    """Stand-in browser for the test prefix while the block runs."""

    KEY = r"HKCU\Software\Wine\WineBrowser"

    def __init__(self, workdir):
        self.log = workdir / "browser.log"
        self.script = workdir / "browser.sh"

    def __enter__(self):
        self.script.write_text("#!/bin/sh\n"
                               f"printf '%s\\n' \"$1\" >> '{self.log}'\n"
                               "exec curl -s -o /dev/null --max-time 10 \"$1\"\n")
        self.script.chmod(self.script.stat().st_mode | stat.S_IXUSR)
        winelib.run(["reg", "add", self.KEY, "/v", "Browsers", "/d", str(self.script), "/f"], check=True)
        return self

    def links(self):
        return self.log.read_text(encoding="latin-1").splitlines() if self.log.exists() else []

    def __exit__(self, *exc):
        winelib.run(["reg", "delete", self.KEY, "/v", "Browsers", "/f"])
