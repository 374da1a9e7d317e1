#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"
#include "net/proxy.h"

namespace lum::installer {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

bool EqualsNoCase(std::wstring_view text, std::wstring_view other) {
  return text.size() == other.size() && StartsWithNoCase(text, other);
}

// The arguments after the program's name, which CommandLineToArgvW reads by its own rule: up to
// the closing quote when it starts with one, else up to the first blank.
std::wstring_view Arguments(std::wstring_view raw) {
  std::size_t at = 0;
  if (!raw.empty() && raw[0] == L'"') {
    at = raw.find(L'"', 1);
    at = at == std::wstring_view::npos ? raw.size() : at + 1;
  } else {
    while (at < raw.size() && !IsBlank(raw[at])) ++at;
  }
  return raw.substr(at);
}

// Where a /D= switch starts, outside quotes and at the start of an argument; a quote right
// before it (as tools that quote arguments with blanks write it) belongs to the switch.
std::size_t FindFolderSwitch(std::wstring_view args) {
  bool quoted = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool argumentStart = i == 0 || IsBlank(args[i - 1]);
    if (!quoted && argumentStart) {
      if (StartsWithNoCase(args.substr(i), L"/D=")) return i;
      if (StartsWithNoCase(args.substr(i), L"\"/D=")) return i;
    }
    if (args[i] == L'"') quoted = !quoted;
  }
  return std::wstring_view::npos;
}

bool IsAbsoluteFolder(std::wstring_view folder) {
  const bool drive = folder.size() >= 3 && folder[1] == L':' &&
                     (folder[2] == L'\\' || folder[2] == L'/') && AsciiLower(folder[0]) >= L'a' &&
                     AsciiLower(folder[0]) <= L'z';
  return drive || StartsWithNoCase(folder, L"\\\\");
}

}  // namespace

bool ParseCommandLine(std::wstring_view raw, CommandLine& parsed, std::wstring& message) {
  parsed = CommandLine{};
  message.clear();
  const auto fail = [&message](std::wstring text) {
    if (message.empty()) message = std::move(text);
  };

  std::wstring_view args = Arguments(raw);
  const std::size_t folderAt = FindFolderSwitch(args);
  if (folderAt != std::wstring_view::npos) {
    std::wstring_view folder = args.substr(folderAt);
    const bool quoted = folder[0] == L'"';
    folder.remove_prefix(quoted ? 4 : 3);
    while (!folder.empty() && IsBlank(folder.back())) folder.remove_suffix(1);
    if (quoted && !folder.empty() && folder.back() == L'"') folder.remove_suffix(1);
    if (!IsAbsoluteFolder(folder)) {
      fail(L"/D= 后须为完整的安装目录路径：" + std::wstring(args.substr(folderAt)));
    } else {
      parsed.installDirectory = std::wstring(folder);
    }
    args = args.substr(0, folderAt);
  }

  // CommandLineToArgvW reads its first argument as a program name, by other rules.
  const std::wstring split = L"program " + std::wstring(args);
  int count = 0;
  const LocalMemory list(reinterpret_cast<HLOCAL>(CommandLineToArgvW(split.c_str(), &count)));
  wchar_t** argv = static_cast<wchar_t**>(list.Get());
  if (argv == nullptr) {
    fail(L"无法读取命令行参数");
    return false;
  }
  for (int i = 1; i < count; ++i) {
    const std::wstring_view arg = argv[i];
    if (EqualsNoCase(arg, L"/S")) {
      parsed.silent = true;
    } else if (EqualsNoCase(arg, L"/?")) {
      parsed.usage = true;
    } else if (EqualsNoCase(arg, L"/NODESKTOPSHORTCUT")) {
      parsed.noDesktopShortcut = true;
    } else if (EqualsNoCase(arg, L"/NOSTARTMENUSHORTCUT")) {
      parsed.noStartMenuShortcut = true;
    } else if (EqualsNoCase(arg, L"/FORCECLOSEAPPLICATIONS")) {
      parsed.forceCloseApplications = true;
    } else if (EqualsNoCase(arg, L"/LAUNCH")) {
      parsed.launch = true;
    } else if (StartsWithNoCase(arg, L"/LOG=") && IsFullDosPath(arg.substr(5))) {
      // A full path of its own: a relative one would be taken from whatever folder a deployment
      // tool happened to start the program in.
      parsed.logFile = std::wstring(arg.substr(5));
    } else if (StartsWithNoCase(arg, L"/LOG")) {
      fail(L"/LOG= 后须为完整的日志文件路径：" + std::wstring(arg));
    } else if (StartsWithNoCase(arg, L"/PROXY=") && IsProxyAddress(arg.substr(7))) {
      parsed.proxy = std::wstring(arg.substr(7));
    } else if (StartsWithNoCase(arg, L"/PROXY")) {
      fail(L"/PROXY= 后须为代理服务器的 主机:端口：" + std::wstring(arg));
    } else {
      fail(L"无法识别的参数：" + std::wstring(arg));
    }
  }
  return message.empty();
}

std::wstring DescribeSwitches(const CommandLine& line) {
  std::wstring text;
  const auto add = [&text](bool present, std::wstring_view name) {
    if (!present) return;
    if (!text.empty()) text += L' ';
    text += name;
  };
  add(line.silent, L"/S");
  add(line.noDesktopShortcut, L"/NODESKTOPSHORTCUT");
  add(line.noStartMenuShortcut, L"/NOSTARTMENUSHORTCUT");
  add(line.forceCloseApplications, L"/FORCECLOSEAPPLICATIONS");
  add(line.launch, L"/LAUNCH");
  add(!line.logFile.empty(), L"/LOG=" + line.logFile);
  add(!line.proxy.empty(), L"/PROXY=" + line.proxy);
  add(line.installDirectory.has_value(), L"/D=" + line.installDirectory.value_or(L""));
  return text.empty() ? L"(none)" : text;
}

}  // namespace lum::installer
