"""The shipped program run silently and ended with the whole prefix (wineserver -k, as when the
computer goes off) halfway through a throttled download, then started again: the second run
continues the partial package instead of fetching it again."""
import json
import os
import ssl
import time
import urllib.request

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

ETAG = '"demo-1"'


class Scenario:
    def package_requests(self):
        """The release server's records of the package's requests."""
        context = ssl.create_default_context(cafile=os.path.join(self.build, "pki", "ca.crt"))
        url = f"https://localhost:{self.port}/_control/requests"
        with urllib.request.urlopen(url, context=context, timeout=10) as response:
            records = json.loads(response.read())["requests"]
        return [r for r in records if r["path"] == "/packages/VIVOV3_Setup_x64.exe"]

    def scenario_silent_resume(self):
        """Half the package, the prefix ended, a second run: at most a tenth of it sent twice."""
        self.forget_installation()
        cache = os.path.join(self.testbed, "prefix", "drive_c", "ProgramData", "VIVOV3")
        subprocess.run(["rm", "-rf", cache])
        package = os.path.join(self.build, "artifacts", "VIVOV3_Setup_x64.exe")
        size = os.path.getsize(package)
        self.serve_demo("--first-seconds", "8", "--etag", ETAG)
        self.start(self.setup_exe, "/S", r"/D=C:\Program Files\VIVOV3")
        deadline = time.time() + 60
        sent = 0
        while sent < size // 2 and time.time() < deadline:
            time.sleep(0.05)
            sent = sum(r.get("body_bytes_sent", 0) for r in self.package_requests())
        self.check(sent >= size // 2, "resume: the first run got halfway", f"{sent} of {size}")
        self.restart_prefix()
        self.end_all()
        kept = os.path.join(cache, "InstallerCache", "VIVOV3_Setup_x64.exe")
        self.check(os.path.exists(kept) and os.path.exists(kept + ".download"),
                   "resume: the partial package and its record stay")

        second = self.start(self.setup_exe, "/S", r"/D=C:\Program Files\VIVOV3")
        self.wait_exit(second, "resume: the second run installs", timeout=120)
        requests = self.package_requests()
        total = sum(r.get("body_bytes_sent", 0) for r in requests)
        print(f"note: {total} bytes sent for a package of {size}")
        self.check(total <= size * 1.1, "resume: at most a tenth of the package sent twice",
                   f"{total} bytes sent for a package of {size}")
        headers = dict(requests[-1]["headers"]) if len(requests) == 2 else {}
        self.check(headers.get("Range", "").startswith("bytes=") and headers.get("If-Range") == ETAG,
                   "resume: the second run asks for the rest, of the same file",
                   f"{len(requests)} requests, last headers {headers}")
        _, entry = self.run("reg", "query",
                            r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC",
                            "/v", "DisplayVersion", "/reg:64")
        self.check("2.0.0" in entry, "resume: installed", entry)
        self.check(not os.path.exists(kept) and not os.path.exists(kept + ".download"),
                   "resume: nothing stays in the cache after the installation")
