"""The harness: the failure overlay's confirm label for each error code, compared with each
other and with the labels of the launch failure and the disk-space failure."""

from driver import *  # noqa: F403 -- the layout's rectangles and colours, the pixel tests

# Compares with the labels that these took (ctest runs them first, in the same test bed).
NEEDS = ("progress_and_questions", "disk_space")


class Scenario:
    def scenario_error_labels(self):
        """The failure overlay's confirm label follows the error code, compared as a whole."""
        texts = {"E_NETWORK": "当前网络不可用，请检查网络连接", "e_network": "当前网络不可用，请检查网络连接",
                 "E_UAC": "未获得安装权限，请重新授权", "E_INSTALL": "安装失败，请稍后重试",
                 "-": "安装包校验失败，请重新下载安装"}
        for code, text in texts.items():
            name = "harness-" + ("empty" if code == "-" else code)
            process, send, _ = self.harness(name)
            send(f"status 7 0 {code} {text}")
            image = self.wait_for(self.scrim_shown, f"{code}: failure overlay shown",
                                  shot="overlay-error-" + ("empty" if code == "-" else code))
            self.labels[code] = self.confirm_label(image)
            self.click(*centre(DIALOG_CANCEL))  # "退出安装"
            self.wait_exit(process, f"{code}: leaving from the overlay ends with 0")
            self.end_all()
        same = ["e_network", "-", "E_LAUNCH"]  # all "重新下载"
        for code in same[1:]:
            if code in self.labels:
                self.check(differing(self.labels[code], self.labels["e_network"]) <= 5,
                           f"labels: {code} offers the same retry as e_network")
        own = ["E_NETWORK", "E_UAC", "E_INSTALL", "E_DISK_SPACE", "e_network"]
        for i, a in enumerate(own):
            for b in own[i + 1:]:
                if a in self.labels and b in self.labels:
                    self.check(differing(self.labels[a], self.labels[b]) > 20,
                               f"labels: {a} and {b} differ")
