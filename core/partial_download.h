// A download that a run left unfinished (cancelled, failed, or ended with the computer): the
// partial package stays in the protected folder under its own name and, beside it, a small record
// of what it is meant to become, so that a later run can continue it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/handles.h"
#include "core/installer_types.h"
#include "system/protected_folder.h"

namespace lum::installer {

// Beside kPackageFileName.
inline constexpr wchar_t kPartialRecordName[] = L"VIVOV3_Setup_x64.exe.download";

// What the record holds (UTF-8 JSON, see SerializePartialRecord).
struct PartialDownloadRecord {
  std::vector<std::wstring> urls;  // the package's URLs, url first
  std::uint64_t size = 0;          // the manifest entry's size and sha256
  std::wstring sha256;
  std::wstring validator;     // the If-Range validator the bytes came with; may be empty
  std::uint64_t written = 0;  // bytes of the package that are surely in the file
};

// {"format":1,"size":N,"sha256":"…","validator":"…","written":N,"urls":["…",…]}
std::string SerializePartialRecord(const PartialDownloadRecord& record);
// False for anything but such an object of format 1 (unknown members are ignored).
[[nodiscard]] bool ParsePartialRecord(const std::string& text, PartialDownloadRecord& record);

// The record's file, held by the run that downloads and rewritten in place as it goes on.
class PartialRecordFile {
 public:
  // A new record file; whatever stood at its name goes first. 0 or the Windows error.
  DWORD Create(const ProtectedFolder& folder);
  // Rewrites the record. A failed write leaves a record that the next run will not trust.
  void Write(const PartialDownloadRecord& record);
  // Deletes the file (the download is over, or nothing is worth keeping).
  void Remove();
  bool IsOpen() const { return file_.IsValid(); }

 private:
  KernelHandle file_;
};

// A partial package that a run can continue: held for writing, cut to the bytes the record vouches
// for, with the validator they came with.
struct PartialResume {
  KernelHandle writer;
  std::uint64_t kept = 0;
  std::wstring validator;
};

enum class PartialFound {
  None,        // no record (or one of a whole file, now removed): the package, if any, is
               // judged as a cached package
  Resume,      // resume holds the package to continue
  Discarded,   // record and package did not go together, or not with the offered entry: both
               // were removed (why says what was wrong)
  Unreadable,  // the record's status could not be read, or the two could not be removed (error)
};

// Looks for a record beside the package. The package is continued only when the record reads,
// names the offered entry's size and SHA-256 and vouches for part of the file.
PartialFound FindPartialDownload(const ProtectedFolder& folder, const PayloadInfo& offered,
                                 DWORD writerAccess, PartialResume& resume, std::wstring& why,
                                 DWORD& error);

}  // namespace lum::installer
