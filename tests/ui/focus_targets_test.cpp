// The keyboard's targets of every page and overlay, exactly in Tab order, without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/installer_types.h"
#include "ui/page/controls.h"
#include "ui/paint/page_painter.h"

namespace lum::installer {
namespace {

struct Expected {
  FocusKind kind;
  DesignRect rect;
  const wchar_t* text;
  bool enabled;
};

void ExpectTargets(const FocusList& list, const std::vector<Expected>& expected,
                   std::size_t initial) {
  ASSERT_EQ(list.targets.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const FocusTarget& got = list.targets[i];
    EXPECT_EQ(got.kind, expected[i].kind);
    EXPECT_EQ(got.rect.left, expected[i].rect.left);
    EXPECT_EQ(got.rect.top, expected[i].rect.top);
    EXPECT_EQ(got.rect.right, expected[i].rect.right);
    EXPECT_EQ(got.rect.bottom, expected[i].rect.bottom);
    EXPECT_EQ(got.text, expected[i].text);
    EXPECT_EQ(got.enabled, expected[i].enabled);
  }
  EXPECT_EQ(list.initial, initial);
}

PageView On(InstallStage stage, bool agreed = true) {
  PageView view;
  view.stage = stage;
  view.agreed = agreed;
  view.installPath = LR"(D:\Apps\Lumora)";
  return view;
}

TEST(FocusTargets, WelcomeFromTheAgreementRowToTheInstallButton) {
  for (const bool agreed : {true, false}) {
    SCOPED_TRACE(agreed);
    ExpectTargets(FocusTargetsFor(On(InstallStage::Welcome, agreed)),
                  {{FocusKind::CheckMark, {52, 516, 125, 554}, L"同意", true},
                   {FocusKind::Link, {125, 515, 227, 555}, L"《用户协议》", true},
                   {FocusKind::Link, {230, 515, 332, 555}, L"《隐私政策》", true},
                   {FocusKind::Link, {335, 515, 471, 555}, L"《会员服务协议》", true},
                   {FocusKind::Link, {724, 515, 850, 555}, L"自定义安装  \u203A", true},
                   {FocusKind::Button, {204, 369, 696, 441}, L"一键安装", agreed}},
                  5);
  }
}

TEST(FocusTargets, CustomPageFromThePathFieldToBack) {
  for (const bool agreed : {true, false}) {
    SCOPED_TRACE(agreed);
    ExpectTargets(FocusTargetsFor(On(InstallStage::CustomOptions, agreed)),
                  {{FocusKind::Edit, {67, 189, 712, 246}, LR"(D:\Apps\Lumora)", true},
                   {FocusKind::Button, {712, 189, 832, 246}, L"更改目录", true},
                   {FocusKind::CheckMark, {82, 270, 280, 310}, L"添加快捷方式到桌面", true},
                   {FocusKind::CheckMark, {295, 270, 505, 310}, L"添加到开始菜单", true},
                   {FocusKind::Button, {120, 369, 441, 441}, L"一键安装", agreed},
                   {FocusKind::Button, {459, 369, 780, 441}, L"返回", true}},
                  4);
  }
}

TEST(FocusTargets, CompletionHasItsButtonBusyAndFailedStagesNothing) {
  ExpectTargets(FocusTargetsFor(On(InstallStage::Completed)),
                {{FocusKind::Button, {204, 414, 696, 487}, L"立即体验", true}}, 0);
  for (const InstallStage stage :
       {InstallStage::Preparing, InstallStage::Downloading, InstallStage::Verifying,
        InstallStage::Installing, InstallStage::Failed}) {
    SCOPED_TRACE(static_cast<int>(stage));
    EXPECT_TRUE(FocusTargetsFor(On(stage)).targets.empty());
  }
}

struct OverlayCase {
  DialogKind kind;
  InstallStage stage;
  const wchar_t* errorCode;
  const wchar_t* cancel;
  const wchar_t* confirm;
};

TEST(FocusTargets, AnOverlayHidesThePageAndOffersItsTwoButtons) {
  const OverlayCase cases[] = {
      {DialogKind::AgreementRequired, InstallStage::Welcome, L"", L"取消", L"同意并安装"},
      {DialogKind::AgreementRequired, InstallStage::CustomOptions, L"", L"取消", L"同意并安装"},
      {DialogKind::ExitConfirm, InstallStage::Downloading, L"", L"取消", L"确定"},
      {DialogKind::CloseAppConfirm, InstallStage::Installing, L"", L"取消", L"关闭并继续"},
      {DialogKind::ForceCloseConfirm, InstallStage::Installing, L"", L"取消", L"强制关闭"},
      {DialogKind::InstallError, InstallStage::Failed, kErrorDiskSpace, L"退出安装", L"更改目录"},
      {DialogKind::InstallError, InstallStage::Failed, kErrorNetwork, L"退出安装", L"重新检测"},
  };
  for (const OverlayCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    PageView view = On(c.stage);
    view.dialog = c.kind;
    view.errorCode = c.errorCode;
    ExpectTargets(FocusTargetsFor(view),
                  {{FocusKind::Button, {141, 322, 441, 394}, c.cancel, true},
                   {FocusKind::Button, {459, 322, 759, 394}, c.confirm, true}},
                  1);
  }
}

}  // namespace
}  // namespace lum::installer
