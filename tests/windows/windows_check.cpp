// The release check on real Windows 10/11: each attack a standard user can make on an elevated
// bootstrapper, played by a throwaway standard user against the product's own code. Wine cannot
// show any of them (one Unix user, no file security, no second logon session, no private
// namespaces), so under Wine every case skips and says why. How to run it: README, "Before a
// release: the real-Windows check".
//
//   windows_check.exe [gtest options]     from an elevated administrator's prompt, with
//                                         LumoraWebSetup.exe and planted.dll beside it
// The same program, started by a case as someone else, is the probe that case needs:
//   windows_check.exe --probe=idle        sleeps (the namesake application)
//   windows_check.exe --probe=identity    exits with CheckDesktopIdentity()
//   windows_check.exe --probe=lock        exits with the error of taking the installation lock
//   windows_check.exe --probe=guard PATH  turns the redirection guard on, then creates PATH;
//                                         exits with the error (0 when it was made)
#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <lm.h>
#include <sddl.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/handles.h"
#include "base/module.h"
#include "base/paths.h"
#include "core/installer_log.h"
#include "system/install_folder.h"
#include "system/install_location.h"
#include "system/installation_lock.h"
#include "system/process_control.h"
#include "system/process_identity.h"
#include "system/protected_folder.h"

namespace lum::installer {
namespace {

constexpr DWORD kProbeTimeoutMs = 30000;
constexpr DWORD kProbeUnavailable = 0xE0000001;  // the probe's system lacks what it tries

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::wstring Hex(const BYTE* bytes, size_t count) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::wstring RandomHex(size_t bytes) {
  std::vector<BYTE> random(bytes);
  if (BCryptGenRandom(nullptr, random.data(), static_cast<ULONG>(bytes),
                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
    ADD_FAILURE() << "BCryptGenRandom failed";
  }
  return Hex(random.data(), bytes);
}

std::wstring ThisProgram() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

std::wstring Beside(const wchar_t* name) { return JoinPath(ParentPath(ThisProgram()), name); }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// Makes a folder with the descriptor of sddl from its first moment; false on any failure.
bool MakeFolder(const std::wstring& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return false;
  }
  const LocalMemory held(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  return CreateDirectoryW(path.c_str(), &attributes) != FALSE;
}

// Removes a tree without ever following a junction or link inside it: a link is removed itself.
void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW(JoinPath(path, L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") RemoveTree(JoinPath(path, name));
      } while (FindNextFileW(search, &entry));
      FindClose(search);
    }
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

// A standard user made for this run and removed with it (no profile is ever loaded for it).
class ThrowawayUser {
 public:
  ThrowawayUser() {
    name_ = L"lumchk" + RandomHex(4);
    password_ = L"Lc!" + RandomHex(12) + L"zQ9";
    USER_INFO_1 info{};
    info.usri1_name = name_.data();
    info.usri1_password = password_.data();
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
    DWORD badField = 0;
    status_ = NetUserAdd(nullptr, 1, reinterpret_cast<BYTE*>(&info), &badField);
    if (status_ != NERR_Success) return;
    added_ = true;
    if (!LogonUserW(name_.c_str(), L".", password_.c_str(), LOGON32_LOGON_INTERACTIVE,
                    LOGON32_PROVIDER_DEFAULT, token_.Put())) {
      status_ = GetLastError();
    }
  }
  ~ThrowawayUser() {
    token_.Reset();
    if (added_) NetUserDel(nullptr, name_.c_str());  // only the account made here
  }
  ThrowawayUser(const ThrowawayUser&) = delete;
  ThrowawayUser& operator=(const ThrowawayUser&) = delete;

  bool Ready() const { return status_ == 0; }
  DWORD Status() const { return status_; }
  HANDLE Token() const { return token_.Get(); }
  // Starts this program as the user, in this desktop session, with the probe's arguments.
  bool Start(const std::wstring& program, const std::wstring& arguments, KernelHandle& process) {
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessWithLogonW(name_.c_str(), L".", password_.c_str(), 0, program.c_str(),
                                 line.data(), 0, nullptr, ParentPath(program).c_str(), &startup,
                                 &started)) {
      return false;
    }
    CloseHandle(started.hThread);
    process.Reset(started.hProcess);
    return true;
  }

 private:
  std::wstring name_;
  std::wstring password_;
  KernelHandle token_;
  DWORD status_ = 0;
  bool added_ = false;
};

// Runs a block as the user (file system access on this thread goes with their token).
class AsUser {
 public:
  explicit AsUser(const ThrowawayUser& user) { ok_ = ImpersonateLoggedOnUser(user.Token()); }
  ~AsUser() {
    if (ok_) RevertToSelf();
  }
  AsUser(const AsUser&) = delete;
  AsUser& operator=(const AsUser&) = delete;
  bool Ok() const { return ok_ != FALSE; }

 private:
  BOOL ok_ = FALSE;
};

// Turns the folder at link (it must exist and be empty) into a junction to target.
DWORD MakeJunction(const std::wstring& link, const std::wstring& target) {
  const KernelHandle folder(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
  if (!folder) return GetLastError();
  const std::wstring substitute = L"\\??\\" + target;
  // REPARSE_DATA_BUFFER's mount-point form: substitute name, NUL, print name, NUL.
  const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
  const USHORT printBytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
  const USHORT pathBytes = substituteBytes + printBytes + 2 * sizeof(wchar_t);
  std::vector<BYTE> buffer(8 + 8 + pathBytes, 0);
  const auto put16 = [&buffer](size_t at, USHORT value) { std::memcpy(&buffer[at], &value, 2); };
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(&buffer[0], &tag, 4);
  put16(4, static_cast<USHORT>(8 + pathBytes));         // ReparseDataLength
  put16(8, 0);                                          // SubstituteNameOffset
  put16(10, substituteBytes);                           // SubstituteNameLength
  put16(12, static_cast<USHORT>(substituteBytes + 2));  // PrintNameOffset
  put16(14, printBytes);                                // PrintNameLength
  std::memcpy(&buffer[16], substitute.data(), substituteBytes);
  std::memcpy(&buffer[16 + substituteBytes + 2], target.data(), printBytes);
  DWORD returned = 0;
  if (!DeviceIoControl(folder.Get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                       static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr)) {
    return GetLastError();
  }
  return 0;
}

DWORD WaitForProbe(const KernelHandle& process) {
  if (WaitForSingleObject(process.Get(), kProbeTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    return WAIT_TIMEOUT;
  }
  DWORD code = 0;
  return GetExitCodeProcess(process.Get(), &code) ? code : GetLastError();
}

bool IsElevatedAdministrator() {
  KernelHandle token;
  TOKEN_ELEVATION elevation{};
  DWORD size = sizeof(elevation);
  return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put()) &&
         GetTokenInformation(token.Get(), TokenElevation, &elevation, size, &size) &&
         elevation.TokenIsElevated != 0;
}

// Every case: a throwaway standard user, and a scratch folder at the system drive's root that
// Authenticated Users may change, as folders made at a drive root are; both go at the end.
class WindowsCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (UnderWine()) {
      GTEST_SKIP() << "under Wine: " << WineReason();
    }
    if (!IsElevatedAdministrator()) GTEST_SKIP() << "needs an elevated administrator's prompt";
    account.emplace();
    ASSERT_TRUE(account->Ready()) << "the throwaway user could not be made, error "
                                  << account->Status();
    user = &*account;
    wchar_t windows[MAX_PATH];
    ASSERT_NE(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    scratch = std::wstring(windows, 3) + L"lumchk-" + RandomHex(4);
    ASSERT_TRUE(MakeFolder(scratch, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)"))
        << GetLastError();
    adminOnly = JoinPath(scratch, L"admin only");
    ASSERT_TRUE(MakeFolder(adminOnly, std::wstring(kInstallFolderSddl)));
  }
  void TearDown() override {
    if (!scratch.empty()) RemoveTree(scratch);
    account.reset();
  }
  // What Wine lacks for this case.
  virtual const char* WineReason() const = 0;

  // A copy of this program in the scratch folder, where the user may run it.
  std::wstring ProbeCopy(const wchar_t* name) {
    const std::wstring copy = JoinPath(scratch, name);
    EXPECT_TRUE(CopyFileW(ThisProgram().c_str(), copy.c_str(), TRUE)) << GetLastError();
    return copy;
  }

  std::optional<ThrowawayUser> account;  // only where the case runs
  ThrowawayUser* user = nullptr;
  std::wstring scratch;
  std::wstring adminOnly;
};

#define LUM_WINDOWS_CASE(Name, reason)                         \
  class Name : public WindowsCheck {                           \
    const char* WineReason() const override { return reason; } \
  };                                                           \
  TEST_F(Name, HoldsAgainstAStandardUser)

// The working folder's root is one a standard user cannot create in, so no one can make the
// folder first with an access list of their own; ours lets no one else write.
LUM_WINDOWS_CASE(SquattedWorkingFolder,
                 "every process is the same user and no access list is kept") {
  {
    AsUser as(*user);
    ASSERT_TRUE(as.Ok());
    const std::wstring squat = JoinPath(WorkingFolderRoot(), L"lumchk-" + RandomHex(4));
    EXPECT_FALSE(CreateDirectoryW(squat.c_str(), nullptr)) << "a user made " << Narrow(squat);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    RemoveDirectoryW(squat.c_str());
  }
  ProtectedFolder folder;
  ASSERT_EQ(folder.Open(), 0u);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(folder.Path().c_str(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const LocalMemory held(descriptor);
  for (const std::wstring& writer : OtherWriters(descriptor)) {
    ADD_FAILURE() << Narrow(folder.Path()) << " may be written by " << Narrow(writer);
  }
}

// A user cannot open, and so cannot hold, lock or oplock, the package in the working folder.
LUM_WINDOWS_CASE(HeldFiles, "every process is the same user and no access list is kept") {
  ProtectedFolder folder;
  ASSERT_EQ(folder.Open(), 0u);
  const std::wstring name = L"lumchk-" + RandomHex(4) + L".exe";
  KernelHandle file;
  ASSERT_EQ(folder.CreateNewFile(name, GENERIC_WRITE | DELETE, FILE_SHARE_READ, file), 0u);
  {
    AsUser as(*user);
    EXPECT_TRUE(as.Ok());
    const KernelHandle held(as.Ok() ? CreateFileW(folder.PathOf(name).c_str(), GENERIC_READ, 0,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)
                                    : nullptr);
    EXPECT_FALSE(held) << "a user holds " << Narrow(folder.PathOf(name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(DeleteThroughHandle(file.Get()), 0u);
}

// An entry that applies only inside a folder still hands users what is made there: the folder's
// judgement counts it, and Windows really does let the user write the file an administrator made.
LUM_WINDOWS_CASE(InheritOnlyEntries, "no access lists are kept, so nothing is inherited") {
  const std::wstring folder = JoinPath(scratch, L"inherit only");
  ASSERT_TRUE(MakeFolder(folder, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;BU)"));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const LocalMemory held(descriptor);
  EXPECT_NE(JudgeFolderSecurity(descriptor, true), FolderTrust::Trusted);
  EXPECT_FALSE(OtherWriters(descriptor).empty());
  const std::wstring file = JoinPath(folder, L"made by an administrator.exe");
  ASSERT_TRUE(KernelHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)));
  AsUser as(*user);
  ASSERT_TRUE(as.Ok());
  EXPECT_TRUE(KernelHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)))
      << "the premise: the inherited entry lets the user write, error " << GetLastError();
}

// A /LOG= copy below a folder the user turns into a junction to an administrators' folder: the
// copy is not taken, and nothing is made or written there.
LUM_WINDOWS_CASE(RedirectedLogCopy,
                 "no junctions can be made, and every process is the same user") {
  const std::wstring logs = JoinPath(scratch, L"logs");
  {
    AsUser as(*user);
    ASSERT_TRUE(as.Ok());
    ASSERT_TRUE(CreateDirectoryW(logs.c_str(), nullptr)) << GetLastError();
    ASSERT_EQ(MakeJunction(logs, adminOnly), 0u);
  }
  std::wstring problem;
  EXPECT_FALSE(SetLogCopyFile(JoinPath(logs, L"copy.log"), problem));
  EXPECT_NE(problem.find(L" leads to "), std::wstring::npos) << Narrow(problem);
  EXPECT_EQ(GetFileAttributesW(JoinPath(adminOnly, L"copy.log").c_str()), INVALID_FILE_ATTRIBUTES)
      << "made through the junction";
  EXPECT_TRUE(SetLogCopyFile(L"", problem));
}

// The process-wide guard: with it on, an elevated process does not follow a junction that a
// non-administrator made (Windows 11, and Windows 10 with recent updates).
LUM_WINDOWS_CASE(RedirectionGuard, "no redirection trust policy and no junctions") {
  const std::wstring logs = JoinPath(scratch, L"guarded");
  {
    AsUser as(*user);
    ASSERT_TRUE(as.Ok());
    ASSERT_TRUE(CreateDirectoryW(logs.c_str(), nullptr)) << GetLastError();
    ASSERT_EQ(MakeJunction(logs, adminOnly), 0u);
  }
  const std::wstring program = ThisProgram();
  std::wstring line = L"\"" + program + L"\" --probe=guard \"" + JoinPath(logs, L"x.log") + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &started));
  CloseHandle(started.hThread);
  const DWORD code = WaitForProbe(KernelHandle(started.hProcess));
  if (code == kProbeUnavailable) GTEST_SKIP() << "this Windows has no redirection trust policy";
  EXPECT_NE(code, 0u) << "the elevated probe followed the user's junction";
  EXPECT_EQ(GetFileAttributesW(JoinPath(adminOnly, L"x.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

// A program of the application's name that a user runs from elsewhere is no copy of ours: it does
// not block, and it is not ended. From the folder being installed to it counts.
LUM_WINDOWS_CASE(NamesakeApplication, "every process is the same user in one session") {
  const std::wstring namesake = ProbeCopy(kApplicationExeName);
  KernelHandle process;
  ASSERT_TRUE(user->Start(namesake, L"--probe=idle", process)) << GetLastError();
  const std::vector<std::wstring> ours{adminOnly};
  EXPECT_TRUE(FindApplicationCopies(kApplicationExeName, ours).empty());
  EXPECT_TRUE(TerminateApplication(kApplicationExeName, ours));
  EXPECT_EQ(WaitForSingleObject(process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the namesake was ended";
  const std::vector<ApplicationCopy> found =
      FindApplicationCopies(kApplicationExeName, std::vector<std::wstring>{scratch});
  ASSERT_EQ(found.size(), 1u) << "a copy in the folder installed to is the application's";
  EXPECT_EQ(found[0].processId, GetProcessId(process.Get()));
  TerminateProcess(process.Get(), 0);
  WaitForSingleObject(process.Get(), 5000);
}

// No common dialog for a process whose user is not the desktop's: another account's (elevation
// typed in over the desktop user's shoulder) and SYSTEM (a deployment shown on a desktop).
LUM_WINDOWS_CASE(PickerUnderAnotherUserOrSystem, "every process there is the desktop's user") {
  const std::wstring probe = ProbeCopy(L"identity probe.exe");
  KernelHandle process;
  ASSERT_TRUE(user->Start(probe, L"--probe=identity", process)) << GetLastError();
  const DWORD asUser = WaitForProbe(process);
  EXPECT_TRUE(asUser == static_cast<DWORD>(DesktopIdentity::OtherUser) ||
              asUser == static_cast<DWORD>(DesktopIdentity::Unknown))
      << "another user's process would be offered the picker: " << asUser;

  // SYSTEM: a copy started with winlogon's token (an administrator may, with SeDebugPrivilege).
  DWORD winlogon = 0;
  for (const DWORD id : FindProcessesByName(L"winlogon.exe")) {
    DWORD session = 0;
    DWORD own = 0;
    if (ProcessIdToSessionId(id, &session) && ProcessIdToSessionId(GetCurrentProcessId(), &own) &&
        session == own) {
      winlogon = id;
    }
  }
  if (winlogon == 0) GTEST_SKIP() << "no winlogon.exe in this session to borrow SYSTEM from";
  KernelHandle own;
  LUID debug{};
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, own.Put()));
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &debug));
  TOKEN_PRIVILEGES enable{1, {{debug, SE_PRIVILEGE_ENABLED}}};
  ASSERT_TRUE(AdjustTokenPrivileges(own.Get(), FALSE, &enable, 0, nullptr, nullptr));
  const KernelHandle borrowed(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, winlogon));
  KernelHandle token;
  KernelHandle primary;
  ASSERT_TRUE(borrowed && OpenProcessToken(borrowed.Get(), TOKEN_DUPLICATE, token.Put()) &&
              DuplicateTokenEx(token.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                               TokenPrimary, primary.Put()))
      << GetLastError();
  std::wstring line = L"\"" + probe + L"\" --probe=identity";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessWithTokenW(primary.Get(), 0, probe.c_str(), line.data(), 0, nullptr,
                                      nullptr, &startup, &started))
      << GetLastError();
  CloseHandle(started.hThread);
  EXPECT_EQ(WaitForProbe(KernelHandle(started.hProcess)),
            static_cast<DWORD>(DesktopIdentity::LocalSystem));
}

// DLLs a user drops beside the downloaded program, under the names of those it loads late: the
// window comes up and goes without loading one.
LUM_WINDOWS_CASE(PlantedDlls, "every process is the same user (ui.planted_dlls covers the load)") {
  const std::wstring setup = Beside(L"LumoraWebSetup.exe");
  const std::wstring planted = Beside(L"planted.dll");
  if (GetFileAttributesW(setup.c_str()) == INVALID_FILE_ATTRIBUTES ||
      GetFileAttributesW(planted.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "LumoraWebSetup.exe and planted.dll are not beside this program";
  }
  const std::wstring downloads = JoinPath(scratch, L"Downloads");
  const std::wstring copy = JoinPath(downloads, L"LumoraWebSetup.exe");
  const wchar_t* names[] = {L"winhttp.dll",       L"bcrypt.dll",  L"crypt32.dll", L"wintrust.dll",
                            L"d2d1.dll",          L"dwrite.dll",  L"dwmapi.dll",  L"userenv.dll",
                            L"windowscodecs.dll", L"uxtheme.dll", L"version.dll", L"comctl32.dll"};
  // The administrator's download goes into a folder the user made; the user plants beside it.
  const std::wstring source = JoinPath(scratch, L"planted.dll");
  ASSERT_TRUE(CopyFileW(planted.c_str(), source.c_str(), TRUE)) << GetLastError();
  {
    AsUser as(*user);
    ASSERT_TRUE(as.Ok());
    ASSERT_TRUE(CreateDirectoryW(downloads.c_str(), nullptr)) << GetLastError();
  }
  ASSERT_TRUE(CopyFileW(setup.c_str(), copy.c_str(), TRUE)) << GetLastError();
  {
    AsUser as(*user);
    ASSERT_TRUE(as.Ok());
    for (const wchar_t* name : names) {
      ASSERT_TRUE(CopyFileW(source.c_str(), JoinPath(downloads, name).c_str(), TRUE))
          << GetLastError();
    }
  }
  std::wstring line = L"\"" + copy + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             downloads.c_str(), &startup, &started))
      << GetLastError();
  CloseHandle(started.hThread);
  const KernelHandle process(started.hProcess);
  WaitForInputIdle(process.Get(), kProbeTimeoutMs);  // the window is up: its DLLs are loaded
  const DWORD id = GetProcessId(process.Get());
  EnumWindows(
      [](HWND window, LPARAM target) -> BOOL {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == static_cast<DWORD>(target) && IsWindowVisible(window)) {
          PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return TRUE;
      },
      static_cast<LPARAM>(id));
  if (WaitForSingleObject(process.Get(), kProbeTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
  }
  for (const wchar_t* name : names) {
    EXPECT_EQ(GetFileAttributesW((JoinPath(downloads, name) + L".loaded").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << Narrow(name) << " was loaded from beside the program";
  }
}

// A new install folder is the administrators' alone (users read and run); one a user may write to
// is used, but named with its writers.
LUM_WINDOWS_CASE(InstallFolderDescriptor, "no access lists are kept") {
  const std::wstring made = JoinPath(scratch, L"Apps\\VIVOV3");
  const InstallFolderReport report = PrepareInstallFolder(made);
  ASSERT_EQ(report.error, 0u);
  EXPECT_EQ(report.made.size(), 2u);
  {
    AsUser as(*user);
    ASSERT_TRUE(as.Ok());
    const std::wstring planted = JoinPath(made, L"lumora.exe");
    EXPECT_FALSE(KernelHandle(CreateFileW(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr)))
        << "a user wrote into the new install folder";
  }
  const std::wstring open = JoinPath(scratch, L"open to all");
  ASSERT_TRUE(CreateDirectoryW(open.c_str(), nullptr));  // inherits Authenticated Users: modify
  const InstallFolderReport existing = PrepareInstallFolder(open);
  EXPECT_TRUE(existing.made.empty());
  EXPECT_FALSE(existing.writers.empty()) << "the log would not warn about " << Narrow(open);
}

// The installation lock lives in a namespace bounded by Administrators: a standard user can
// neither make it first nor take it.
LUM_WINDOWS_CASE(LockNamespaceBoundary, "no private namespaces and a single session") {
  const std::wstring probe = ProbeCopy(L"lock probe.exe");
  KernelHandle process;
  ASSERT_TRUE(user->Start(probe, L"--probe=lock", process)) << GetLastError();
  const DWORD code = WaitForProbe(process);
  EXPECT_NE(code, 0u) << "a standard user took the installation lock";
  EXPECT_NE(code, static_cast<DWORD>(WAIT_TIMEOUT));
}

// ---- The probes ----

int Probe(const std::wstring& kind, const std::wstring& argument) {
  if (kind == L"idle") {
    Sleep(kProbeTimeoutMs * 4);
    return 0;
  }
  if (kind == L"identity") return static_cast<int>(CheckDesktopIdentity());
  if (kind == L"lock") {
    InstallationLock lock;
    std::atomic<bool> cancel{false};
    DWORD error = 0;
    const InstallationLock::Outcome outcome = lock.Acquire(false, cancel, error);
    return outcome == InstallationLock::Outcome::Held ? 0 : static_cast<int>(error ? error : 1);
  }
  if (kind == L"guard") {
    using SetPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy =
        LoadedFunction<SetPolicyFn>(L"kernel32.dll", "SetProcessMitigationPolicy");
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    if (setPolicy == nullptr ||
        !setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy))) {
      return static_cast<int>(kProbeUnavailable);
    }
    const KernelHandle file(CreateFileW(argument.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? 0 : static_cast<int>(GetLastError());
  }
  return 2;
}

}  // namespace
}  // namespace lum::installer

int main(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr && count >= 2 && std::wcsncmp(wide[1], L"--probe=", 8) == 0) {
    const int code = lum::installer::Probe(wide[1] + 8, count >= 3 ? wide[2] : L"");
    LocalFree(wide);
    return code;
  }
  if (wide != nullptr) LocalFree(wide);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
