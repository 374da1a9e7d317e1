// The texts the window draws, letter for letter, without a window: overlay titles, bodies and
// buttons, the retry label per error code, free space, progress and the legal-document addresses.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "core/build_config.h"
#include "core/installer_types.h"
#include "ui/page/texts.h"

namespace lum::installer {
namespace {

constexpr wchar_t kStatusMessage[] = L"当前网络不可用，请检查网络连接";

struct QuestionCase {
  DialogKind kind;
  const wchar_t* title;
  const wchar_t* body;
  const wchar_t* confirm;
  const wchar_t* cancel;
};

TEST(DialogTexts, EachQuestionHasItsOwnTexts) {
  const QuestionCase cases[] = {
      {DialogKind::AgreementRequired, L"提示",
       L"请先阅读《用户协议》《隐私政策》《会员服务协议》并勾选同意", L"同意并安装", L"取消"},
      {DialogKind::ExitConfirm, L"", L"确认要退出LumoraMP3转换器安装吗？", L"确定", L"取消"},
      {DialogKind::CloseAppConfirm, L"", L"安装前需要关闭LumoraMP3转换器，是否继续？",
       L"关闭并继续", L"取消"},
      {DialogKind::ForceCloseConfirm, L"", L"Lumora仍在运行，是否强制关闭并继续安装？", L"强制关闭",
       L"取消"},
  };
  for (const QuestionCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    // A status of its own must not leak into a question.
    const DialogTexts texts = TextsForDialog(c.kind, kStatusMessage, kErrorNetwork);
    EXPECT_EQ(texts.title, c.title);
    EXPECT_EQ(texts.body, c.body);
    EXPECT_EQ(texts.confirm, c.confirm);
    EXPECT_EQ(texts.cancel, c.cancel);
  }
}

struct RetryCase {
  const wchar_t* errorCode;
  const wchar_t* confirm;
};

TEST(DialogTexts, FailureShowsTheStatusAndARetryLabelForItsCode) {
  const RetryCase cases[] = {
      {kErrorDiskSpace, L"更改目录"},
      {kErrorNetwork, L"重新检测"},
      {kErrorUac, L"重新授权"},
      {kErrorInstall, L"重新安装"},
      {kErrorManifest, L"重新下载"},
      {kErrorLocalVersion, L"重新下载"},
      {kErrorDowngrade, L"重新下载"},
      {kErrorVerify, L"重新下载"},
      {kErrorCancelled, L"重新下载"},
      {kErrorDownload, L"重新下载"},
      {kErrorAppRunning, L"重新下载"},
      {kErrorLaunch, L"重新下载"},
      {L"", L"重新下载"},
  };
  for (const RetryCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.errorCode));
    const DialogTexts texts = TextsForDialog(DialogKind::InstallError, kStatusMessage, c.errorCode);
    EXPECT_EQ(texts.title, L"");
    EXPECT_EQ(texts.body, kStatusMessage);
    EXPECT_EQ(texts.confirm, c.confirm);
    EXPECT_EQ(texts.cancel, L"退出安装");
  }
}

struct FreeSpaceCase {
  std::uint64_t bytes;
  const wchar_t* text;
};

TEST(PageTexts, FreeSpaceInWholeGibibytes) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  const FreeSpaceCase cases[] = {
      {0, L"可用空间：--"},
      {1, L"可用空间：0G"},
      {kGiB - 1, L"可用空间：0G"},
      {kGiB, L"可用空间：1G"},
      {1'000'000'000, L"可用空间：0G"},  // a decimal gigabyte is less than one
      {2'000'000'000, L"可用空间：1G"},  // 1.86 GiB, rounded down
      {5 * kGiB + kGiB / 2, L"可用空间：5G"},
      {std::uint64_t{1} << 40, L"可用空间：1024G"},
      {std::numeric_limits<std::uint64_t>::max(), L"可用空间：17179869183G"},
  };
  for (const FreeSpaceCase& c : cases) {
    EXPECT_EQ(FreeSpaceText(c.bytes), c.text) << c.bytes << " bytes";
  }
}

struct ProgressCase {
  std::int32_t progress;
  const wchar_t* text;
};

TEST(PageTexts, ProgressPercentageClampedToTheBar) {
  const ProgressCase cases[] = {
      {0, L"正在安装 0%"},     {1, L"正在安装 1%"},
      {57, L"正在安装 57%"},   {100, L"正在安装 100%"},
      {101, L"正在安装 100%"}, {std::numeric_limits<std::int32_t>::max(), L"正在安装 100%"},
      {-1, L"正在安装 0%"},    {std::numeric_limits<std::int32_t>::min(), L"正在安装 0%"},
  };
  for (const ProgressCase& c : cases) {
    EXPECT_EQ(ProgressText(c.progress), c.text) << c.progress;
  }
}

struct UrlCase {
  LegalDocument document;
  const wchar_t* path;
};

TEST(LegalDocumentUrl, EachDocumentHasItsPageOnTheLegalHost) {
  const UrlCase cases[] = {
      {LegalDocument::UserAgreement, L"/html/android/lumora/user_agreement.html"},
      {LegalDocument::PrivacyPolicy, L"/html/android/lumora/privacy_policy.html"},
      {LegalDocument::VipService, L"/html/android/lumora/vip_service.html"},
  };
  for (const UrlCase& c : cases) {
    EXPECT_EQ(LegalDocumentUrl(c.document), std::wstring(kLegalBaseUrl) + c.path)
        << static_cast<int>(c.document);
  }
  EXPECT_EQ(LegalDocumentUrl(LegalDocument::None), L"");
}

}  // namespace
}  // namespace lum::installer
