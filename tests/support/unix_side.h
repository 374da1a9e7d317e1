// What any other process of the user could do to the file system, done from the Unix side of the
// test bed: a Unix symbolic link inside the prefix behaves as a junction or a symbolic link does
// on Windows (Wine's CreateSymbolicLinkW makes nothing), and a Unix hard link as an NTFS one.
#pragma once

#include <string>

namespace lum::test {

// The Unix path of a Windows path under Wine (it need not exist).
std::string UnixPath(const std::wstring& windowsPath);

// The Unix path of a Windows path, quoted for sh.
std::string ShellPath(const std::wstring& windowsPath);

// Runs sh commands and waits until they are done.
void RunShell(const std::string& commands);
// Makes link a symbolic link to target, or points an existing one at it (ln -sfn).
void SymbolicLink(const std::wstring& target, const std::wstring& link);
void HardLink(const std::wstring& target, const std::wstring& link);
// rm -rf: removes links themselves, never what they point to.
void RemoveWithoutFollowing(const std::wstring& path);

}  // namespace lum::test
