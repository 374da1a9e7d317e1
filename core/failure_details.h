// The log's detail lines of a failure: what a failed fetch or download attempt saw and what a
// failed verification compared. They follow the line of the failure itself.
#pragma once

#include <string>

#include "net/transfer_failure.h"
#include "system/payload_verification.h"

namespace lum::installer {

// "获取安装配置失败：" and the transfer detail.
std::wstring ManifestFetchDetail(const std::wstring& message, const TransferFailure& failure);
// "获取安装配置签名失败：" and the transfer detail.
std::wstring ManifestSignatureFetchDetail(const std::wstring& message,
                                          const TransferFailure& failure);
// "第 N 次下载失败（URL）：" and the transfer detail; attempts count from 1.
std::wstring DownloadAttemptDetail(int attempt, const std::wstring& url,
                                   const std::wstring& message, const TransferFailure& failure);
// Empty when the failure compared nothing.
std::wstring VerificationDetail(const VerificationFailure& failure);

}  // namespace lum::installer
