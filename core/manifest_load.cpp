// InstallerController::LoadManifest: fetch, select and keep the payload entry for this channel.
#include <mutex>
#include <string>
#include <utility>

#include "core/installer_controller.h"
#include "manifest/manifest.h"
#include "net/https_transport.h"

namespace lum::installer {

bool InstallerController::LoadManifest(std::wstring& message, bool& networkFailed,
                                       TransferFailure* fetchFailure) {
  std::string body;
  if (!FetchSmallDocument(manifestUrl, &body, &message, fetchFailure)) {
    networkFailed = true;
    return false;
  }
  networkFailed = false;

  PayloadInfo selected;
  if (!SelectManifestPayload(body, channelId, selected, message)) return false;

  {
    std::lock_guard lock(stateMutex);
    payload = std::move(selected);
  }
  message.clear();
  return true;
}

}  // namespace lum::installer
