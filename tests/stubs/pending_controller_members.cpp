// TEMPORARY stand-ins for controller members that are written on other branches (the
// start-up metrics event and the launch of the installed application). They exist only so
// that the executables link before those branches meet; delete this file at the merge.
#include "core/installer_controller.h"

namespace lum::installer {

bool InstallerController::LaunchInstalledApplication(std::wstring& message) {
  message = FindInstalledApplication().found ? L"无法启动LumoraMP3转换器"
                                             : L"找不到已安装的LumoraMP3转换器";
  return false;
}

}  // namespace lum::installer
