"""The shipped program run silently and ended with the whole prefix (wineserver -k, as when the
computer goes off) halfway through a throttled download, then started again: the second run
continues the partial package instead of fetching it again."""
import json
import os
import ssl
import time
import urllib.request

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests


class Scenario:
    def package_requests(self):
        context = ssl.create_default_context(cafile=os.path.join(self.build, "pki", "ca.crt"))
        with urllib.request.urlopen(f"https://localhost:{self.port}/_control/requests",
                                    context=context, timeout=10) as response:
            return [r for r in json.loads(response.read())["requests"]
                    if r["path"] == "/packages/VIVOV3_Setup_x64.exe"]

    def sent(self):
        return sum(r.get("body_bytes_sent", 0) for r in self.package_requests())

    def scenario_silent_resume(self):
        """Half the package, the prefix ended, a second run: at most a tenth of it sent twice."""
        self.forget_installation()
        kept = os.path.join(self.testbed, "prefix", "drive_c", "Program Files",
                            "LUMWebBootstrapper", "VIVOV3_Setup_x64.exe")
        subprocess.run(["rm", "-f", kept, kept + ".download"])
        size = os.path.getsize(os.path.join(self.build, "artifacts", "VIVOV3_Setup_x64.exe"))
        self.serve_demo("--first-seconds", "8", "--etag", '"demo-1"')
        self.start(self.setup_exe, "/S", r"/D=C:\Program Files\VIVOV3")
        deadline = time.time() + 60
        while self.sent() < size // 2 and time.time() < deadline:
            time.sleep(0.05)
        self.restart_prefix()
        self.end_all()
        self.check(os.path.exists(kept) and os.path.exists(kept + ".download"),
                   "resume: halfway, the partial package and its record stay")

        self.wait_exit(self.start(self.setup_exe, "/S", r"/D=C:\Program Files\VIVOV3"),
                       "resume: the second run installs", timeout=120)
        total, requests = self.sent(), self.package_requests()
        print(f"note: {total} bytes sent for a package of {size}")
        self.check(total <= size * 1.1, "resume: at most a tenth of the package sent twice")
        headers = dict(requests[-1]["headers"])
        self.check(len(requests) == 2 and headers.get("Range", "").startswith("bytes=") and
                   headers.get("If-Range") == '"demo-1"',
                   "resume: the second run asks for the rest, of the same file", str(headers))
        self.check(not os.path.exists(kept) and not os.path.exists(kept + ".download"),
                   "resume: nothing stays in the cache after the installation")
