"""UI Automation in the harness's own process, through the providers' interfaces: the bounding
rectangles are the click rectangles in screen pixels at 96 and 144 DPI, the patterns answer,
and Invoke and Toggle alone run a whole installation of the real package, with the events a
screen reader would hear (recorded by the harness: no client hears them under Wine 8)."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

# The click rectangles of the welcome page's children, in design units.
WELCOME_RECTS = {"最小化": MINIMIZE_AREA, "关闭": CLOSE_AREA,
                 "同意": AGREEMENT_CHECK, "《用户协议》": USER_AGREEMENT_LINK,
                 "《隐私政策》": PRIVACY_POLICY_LINK, "《会员服务协议》": VIP_SERVICE_LINK,
                 "自定义安装  \u203a": CUSTOM_LINK, "一键安装": WELCOME_INSTALL}
STRUCTURE_CHANGED, FOCUS_CHANGED, LIVE_REGION = "20002", "20005", "20024"
NAME, RANGE_VALUE, TOGGLE_STATE = "30005", "30047", "30086"


class Scenario:
    def uia_file(self, send, verb):
        """The harness's answer to "uia VERB FILE", parsed: dump gives name -> fields, events a
        list of lines."""
        path = os.path.join(self.work, f"uia-{verb}-{time.time_ns()}")
        send(f"uia {verb} {self.winpath(path)}")
        deadline = time.time() + 20
        while not os.path.exists(path) and time.time() < deadline:
            time.sleep(0.1)
        time.sleep(0.1)  # written at once, but give the write its moment
        with open(path, encoding="utf-8") if os.path.exists(path) else open(os.devnull) as f:
            lines = f.read().splitlines()
        if verb == "events":
            return lines
        elements = {}
        for line in lines:
            head, _, rest = line.partition(" name=")
            name, _, tail = rest.partition(" focus=")
            fields = dict(word.partition("=")[::2] for word in ("focus=" + tail).split())
            fields["ct"] = head.partition("=")[2]
            elements[name] = fields
        return elements

    def wait_dump(self, send, predicate, label, timeout=30):
        deadline = time.time() + timeout
        while True:
            elements = self.uia_file(send, "dump")
            if predicate(elements) or time.time() > deadline:
                break
            time.sleep(0.3)
        self.check(predicate(elements), label, str(elements))
        return elements

    def expect_rects(self, elements, label):
        g, f = self.geometry, self.f
        wrong = []
        for name, (left, top, right, bottom) in WELCOME_RECTS.items():
            expected = (g["X"] + left * f, g["Y"] + top * f, (right - left) * f, (bottom - top) * f)
            got = tuple(float(v) for v in elements.get(name, {}).get("rect", "0,0,0,0").split(","))
            if any(abs(a - b) > 0.51 for a, b in zip(got, expected)):
                wrong.append((name, got, expected))
        self.check(not wrong, f"{label}: bounding rectangles are the click rectangles on screen",
                   str(wrong))

    def scenario_uia_actions(self):
        try:
            for dpi in (144, 96):
                if dpi != self.dpi:
                    self.set_dpi(dpi)
                label = f"providers at {dpi} DPI"
                process, send, _ = self.harness(f"uia-{dpi}")
                elements = self.uia_file(send, "dump")
                self.expect_rects(elements, label)
                self.check(all(elements.get(name, {}).get("invoke") == "1"
                               for name in ("一键安装", "《用户协议》", "自定义安装  \u203a")) and
                           elements.get("同意", {}).get("invoke") == "0" and
                           elements.get("同意", {}).get("toggle") == "1",
                           f"{label}: buttons and links invoke, the mark toggles", str(elements))
                if dpi == 144:
                    send("status 3 45 - 正在下载")
                    bar = self.wait_dump(send, lambda e: "正在安装 45%" in e,
                                         f"{label}: the progress element")
                    self.check(bar.get("正在安装 45%", {}).get("range") == "45/0/100/1",
                               f"{label}: range value 45 of 0-100, read only", str(bar))
                    g, f = self.geometry, self.f
                    self.check(bar.get("正在安装 45%", {}).get("rect") ==
                               f"{g['X']},{g['Y'] + int(PROGRESS_TRACK[1] * f)},{g['WIDTH']},"
                               f"{int((PROGRESS_TRACK[3] - PROGRESS_TRACK[1]) * f)}",
                               f"{label}: the progress element spans the track", str(bar))
                self.end_all()
            self.install_through_patterns()
        finally:
            self.end_all()
            self.forget_installation()
            if self.dpi != 96:
                self.set_dpi(96)

    def install_through_patterns(self):
        self.forget_installation()
        self.serve_demo("--seconds", "4")
        process, send, _ = self.harness("uia-install")
        self.uia_file(send, "dump")  # a client's first look makes the providers
        send("uia toggle 同意")
        image = self.wait_for(lambda i: near(self.check_mark(i, 52, 516), UNCHECKED, 4),
                              "patterns: Toggle clears the agreement mark")
        self.wait_dump(send, lambda e: e.get("同意", {}).get("toggle") == "0",
                       "patterns: its toggle state follows")
        send("uia toggle 同意")
        self.wait_for(lambda i: near(self.check_mark(i, 52, 516), RED_START, 4),
                      "patterns: Toggle sets it again")
        send("uia focus 《隐私政策》")
        self.wait_dump(send, lambda e: e.get("《隐私政策》", {}).get("focus") == "1" and
                       e.get("一键安装", {}).get("focus") == "0",
                       "patterns: SetFocus moves the keyboard focus to a link")
        send("uia invoke 自定义安装  \u203a")
        self.wait_dump(send, lambda e: "更改目录" in e, "patterns: Invoke opens the custom page")
        send("uia toggle 添加快捷方式到桌面")
        self.wait_dump(send, lambda e: e.get("添加快捷方式到桌面", {}).get("toggle") == "0",
                       "patterns: Toggle clears the desktop shortcut")
        send("uia invoke 一键安装")
        self.wait_dump(send, lambda e: "立即体验" in e, "patterns: Invoke installs to the end",
                       timeout=120)
        record = os.path.join(self.installed_folder(), "setup_command_line.txt")
        lines = []
        if os.path.exists(record):
            with open(record, encoding="utf-16") as f:
                lines = f.read().splitlines()
        self.check(bool(lines) and "/DESKTOP_SHORTCUT=0" in lines[0] and
                   "/START_MENU_SHORTCUT=1" in lines[0],
                   "patterns: the package ran without the desktop shortcut", str(lines[:1]))

        events = self.uia_file(send, "events")
        structures = [e for e in events if e == "structure 2"]
        progress = [int(e.split()[-1]) for e in events if e.startswith(f"property {RANGE_VALUE} ")]
        names = [e for e in events if e.startswith(f"property {NAME} 正在安装 ")]
        self.check(len(structures) >= 3, "events: a structure change per page (custom, progress, "
                   "completion)", str(events))
        self.check(len(progress) >= 2 and progress == sorted(progress) and len(names) == len(progress),
                   "events: the progress value and name change together as it moves", str(events))
        self.check(f"event {FOCUS_CHANGED} 立即体验" in events and
                   any(e.startswith(f"property {TOGGLE_STATE} 同意") for e in events),
                   "events: focus on the completion button; the mark's toggle state", str(events))
        send("status 7 0 E_NETWORK 当前网络不可用，请检查网络连接")
        self.wait_dump(send, lambda e: "重新检测" in e, "events: failure overlay up")
        events = self.uia_file(send, "events")
        self.check(events[:1] == ["structure 2"] and
                   "notification 当前网络不可用，请检查网络连接" in events and
                   f"event {LIVE_REGION} 当前网络不可用，请检查网络连接" in events,
                   "events: the failure's message is read out", str(events))
        send("uia invoke 退出安装")
        self.wait_exit(process, "patterns: Invoke on the exit button ends the program")
