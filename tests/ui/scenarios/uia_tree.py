"""A screen reader's route, from another process: uia_client.exe walks the window's UI Automation
tree on every page and overlay (names, control types, enabled, keyboard focus), sees the progress
element's name follow the progress and the failure message appear, and the window go on and
close while a screen reader that stopped answering holds part of its tree. Wine 8 answers nodes,
navigation and properties across processes; patterns and bounding rectangles are checked in the
harness's own process (uia_actions)."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

BUTTON, CHECK_BOX, EDIT, LINK, PROGRESS, TEXT, WINDOW = (
    "50000", "50002", "50004", "50005", "50012", "50020", "50032")
FRAME = [(BUTTON, "最小化"), (BUTTON, "关闭")]
WELCOME = FRAME + [(CHECK_BOX, "同意"), (LINK, "《用户协议》"), (LINK, "《隐私政策》"),
                   (LINK, "《会员服务协议》"), (LINK, "自定义安装  \u203a"), (BUTTON, "一键安装")]
CUSTOM = FRAME + [(BUTTON, "更改目录"), (CHECK_BOX, "添加快捷方式到桌面"),
                  (CHECK_BOX, "添加到开始菜单"), (BUTTON, "一键安装"), (BUTTON, "返回")]
AGREEMENT = [(TEXT, "提示"), (TEXT, "请先阅读《用户协议》《隐私政策》《会员服务协议》并勾选同意"),
             (BUTTON, "取消"), (BUTTON, "同意并安装")]
EXIT = [(TEXT, "确认要退出LumoraMP3转换器安装吗？"), (BUTTON, "取消"), (BUTTON, "确定")]
FAILURE = [(TEXT, "当前网络不可用，请检查网络连接"), (BUTTON, "退出安装"), (BUTTON, "重新检测")]
COMPLETED = FRAME + [(TEXT, "安装完成"), (BUTTON, "立即体验")]


class Scenario:
    def expect_tree(self, label, expected, focused, field=None, timeout=40):
        """The client reads expected (control type, name) children, all enabled, the one named
        focused (None: none) with the keyboard focus, and the path field as given. Looks are
        taken until the window has shown what an input or status asked for; every look must
        read the window's own tree (a window without children is one that did not answer)."""
        deadline, ok = time.time() + timeout, False
        while True:
            looks = self.screen_reader()
            look = looks[0] if looks else {"window": None, "children": [], "field": None}
            if look["window"] != (WINDOW, "LumoraMP3转换器安装器") or not look["children"]:
                break
            children = [(ct, name) for ct, name, _, _ in look["children"]]
            focus = [name for _, name, _, has in look["children"] if has == "1"]
            ok = (look["window"] == (WINDOW, "LumoraMP3转换器安装器") and children == expected and
                  all(enabled == "1" for _, _, enabled, _ in look["children"]) and
                  focus == ([focused] if focused else []) and look["field"] == field)
            if ok or time.time() > deadline:
                break
            time.sleep(1)
        self.check(ok, f"screen reader: {label}", str(look))

    def scenario_uia_tree(self):
        process = self.open_window(self.setup_exe, name="screen reader")
        self.wait_for(self.welcome_drawn, "screen reader: welcome page", timeout=60)
        self.expect_tree("welcome page, focus on the install button", WELCOME, "一键安装")
        self.keys("Tab")
        self.expect_tree("Tab moves the focus to the agreement mark", WELCOME, "同意")

        self.click(*centre(CUSTOM_LINK))
        folder = self.probe("edit").get("text", "")
        self.expect_tree("custom page, the path field named with its path", CUSTOM, "一键安装",
                         field=(EDIT, "0", folder))
        self.key("Tab", "Tab")  # past the back button, round to the field
        self.expect_tree("the field has the keyboard focus", CUSTOM, None, field=(EDIT, "1", folder))
        self.click(*centre(BACK))
        self.expect_tree("back on the welcome page, the field gone", WELCOME, "一键安装")

        self.click(*centre(AGREEMENT_CHECK))
        self.click(*centre(WELCOME_INSTALL))
        self.expect_tree("agreement question: only the overlay", AGREEMENT, "同意并安装")
        self.click(*centre(DIALOG_CANCEL))
        self.expect_tree("agreement question gone", WELCOME, "一键安装")
        self.click(*CLOSE_GLYPH)
        self.wait_exit(process, "screen reader: the window closes")

        # The harness moves the progress, stage by stage, without a download.
        process, send, _ = self.harness("screen-reader-harness")
        for percent in (20, 45, 70):
            send(f"status 3 {percent} - 正在下载")
            self.expect_tree(f"progress page, its element named {percent} %",
                             FRAME + [(PROGRESS, f"正在安装 {percent}%")], None)
        self.click(*CLOSE_GLYPH)
        self.expect_tree("exit question while busy, focus on its safe answer", EXIT, "取消")
        self.click(*centre(DIALOG_CANCEL))
        self.expect_tree("back on the progress page", FRAME + [(PROGRESS, "正在安装 70%")], None)
        send("status 6 100 - 安装完成")
        self.expect_tree("completion page", COMPLETED, "立即体验")
        send("status 7 0 E_NETWORK 当前网络不可用，请检查网络连接")
        self.expect_tree("failure overlay: its message appears", FAILURE, "重新检测")
        clicked = time.time()
        self.click(*centre(DIALOG_CANCEL))
        if self.wait_exit(process,
                          "screen reader: the failure overlay's exit button ends the program"):
            print(f"note: closed {time.time() - clicked:.1f} s after the click (nothing stuck)")

        # A screen reader that stops answering in the middle of its walk, and from then on UI
        # Automation stuck on it (the harness's functions stop returning; Wine 8's COM stalls so
        # only by chance): the run goes on to its end on screen, and the window closes at once.
        process, send, _ = self.harness("stuck-screen-reader")
        send("status 3 50 - 正在下载")
        self.wait_for(self.progress_shown, "stuck screen reader: progress page")
        self.stuck_screen_reader()
        send("uia stick")
        send("status 3 80 - 正在下载")
        send("status 6 100 - 安装完成")
        self.wait_for(self.completion_shown, "stuck screen reader: the run goes on to its end")
        clicked = time.time()
        self.click(*CLOSE_GLYPH)
        if self.wait_exit(process, "stuck screen reader: the window closes within 5 s", timeout=5):
            print(f"note: closed {time.time() - clicked:.1f} s after the click")
