#include "core/partial_download.h"

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "system/install_location.h"

namespace lum::installer {
namespace {

using Json = nlohmann::json;

constexpr int kRecordFormat = 1;
// A record is a few hundred bytes; anything much larger is not one.
constexpr DWORD kRecordLimit = 65536;
constexpr DWORD kRecordAccess = GENERIC_READ | GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES;

constexpr wchar_t kTextUnreadable[] = L"未完成下载的记录无法读取，已删除";
constexpr wchar_t kTextChanged[] = L"安装包已更新，未完成的下载已删除";
constexpr wchar_t kTextMismatch[] = L"未完成下载的记录与安装包不符，已删除";

bool ReadRecordFile(HANDLE file, std::string& text) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart > kRecordLimit) return false;
  text.resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  return text.empty() ||
         (ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr) &&
          read == text.size());
}

bool SetFileLength(HANDLE file, std::uint64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof(end)) != FALSE;
}

// Both go: the package first, which is what takes the space.
PartialFound Discard(const ProtectedFolder& folder, KernelHandle& package, const wchar_t* reason,
                     std::wstring& why, DWORD& error) {
  package.Reset();
  why = reason;
  error = folder.Remove(kPackageFileName);
  if (error == 0) error = folder.Remove(kPartialRecordName);
  return error == 0 ? PartialFound::Discarded : PartialFound::Unreadable;
}

}  // namespace

std::string SerializePartialRecord(const PartialDownloadRecord& record) {
  Json urls = Json::array();
  for (const std::wstring& url : record.urls) urls.push_back(WideToUtf8(url));
  const Json value = {{"format", kRecordFormat},
                      {"size", record.size},
                      {"sha256", WideToUtf8(record.sha256)},
                      {"validator", WideToUtf8(record.validator)},
                      {"written", record.written},
                      {"urls", urls}};
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ParsePartialRecord(const std::string& text, PartialDownloadRecord& record) {
  try {
    // Read as the manifest is, so that the image holds one JSON reader, not one for each input
    // type.
    const Json value = Json::parse(text, nullptr, /*allow_exceptions=*/true,
                                   /*ignore_comments=*/false);
    if (value.at("format").get<int>() != kRecordFormat) return false;
    PartialDownloadRecord parsed;
    parsed.size = value.at("size").get<std::uint64_t>();
    parsed.written = value.at("written").get<std::uint64_t>();
    if (!DecodeUtf8(value.at("sha256").get_ref<const std::string&>(), parsed.sha256) ||
        !DecodeUtf8(value.at("validator").get_ref<const std::string&>(), parsed.validator)) {
      return false;
    }
    for (const Json& url : value.at("urls").get_ref<const Json::array_t&>()) {
      std::wstring wide;
      if (!DecodeUtf8(url.get_ref<const std::string&>(), wide)) return false;
      parsed.urls.push_back(std::move(wide));
    }
    record = std::move(parsed);
    return true;
  } catch (const Json::exception&) {
    return false;
  }
}

DWORD PartialRecordFile::Create(const ProtectedFolder& folder) {
  file_.Reset();
  if (const DWORD error = folder.Remove(kPartialRecordName)) return error;
  return folder.CreateNewFile(kPartialRecordName, kRecordAccess, FILE_SHARE_READ, file_);
}

void PartialRecordFile::Write(const PartialDownloadRecord& record) {
  if (!file_) return;
  const std::string text = SerializePartialRecord(record);
  OVERLAPPED start{};
  DWORD written = 0;
  if (WriteFile(file_.Get(), text.data(), static_cast<DWORD>(text.size()), &written, &start)) {
    static_cast<void>(SetFileLength(file_.Get(), text.size()));
  }
}

void PartialRecordFile::Remove() {
  if (!file_) return;
  static_cast<void>(DeleteThroughHandle(file_.Get()));
  file_.Reset();
}

PartialFound FindPartialDownload(const ProtectedFolder& folder, const PayloadInfo& offered,
                                 DWORD writerAccess, PartialResume& resume, std::wstring& why,
                                 DWORD& error) {
  resume = {};
  why.clear();
  KernelHandle recordFile;
  KernelHandle package;
  switch (folder.OpenFile(kPartialRecordName, GENERIC_READ, FILE_SHARE_READ, recordFile, error)) {
    case ProtectedFolder::Entry::Missing:
      return PartialFound::None;
    case ProtectedFolder::Entry::Unreadable:
      return PartialFound::Unreadable;
    case ProtectedFolder::Entry::Other:
      return Discard(folder, package, kTextUnreadable, why, error);
    case ProtectedFolder::Entry::File:
      break;
  }
  std::string text;
  PartialDownloadRecord record;
  const bool readable = ReadRecordFile(recordFile.Get(), text) && ParsePartialRecord(text, record);
  recordFile.Reset();
  if (!readable) return Discard(folder, package, kTextUnreadable, why, error);
  if (record.size != offered.size || AsciiLowered(record.sha256) != AsciiLowered(offered.sha256)) {
    return Discard(folder, package, kTextChanged, why, error);
  }
  // A record that vouches for the whole file was left between the last byte and its own removal:
  // only the record goes, and the file is judged as any package kept in the folder.
  if (record.written == record.size) {
    error = folder.Remove(kPartialRecordName);
    return error == 0 ? PartialFound::None : PartialFound::Unreadable;
  }
  // The file must hold at least what the record vouches for; bytes past it (written after the
  // record's last update) are cut, as nothing says they are whole.
  LARGE_INTEGER size{};
  if (record.written == 0 || record.written >= record.size ||
      folder.OpenFile(kPackageFileName, writerAccess, FILE_SHARE_READ, package, error) !=
          ProtectedFolder::Entry::File ||
      !GetFileSizeEx(package.Get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) < record.written ||
      !SetFileLength(package.Get(), record.written)) {
    return Discard(folder, package, kTextMismatch, why, error);
  }
  error = 0;
  resume.writer = std::move(package);
  resume.kept = record.written;
  resume.validator = std::move(record.validator);
  return PartialFound::Resume;
}

}  // namespace lum::installer
