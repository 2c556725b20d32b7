#include "passport/passport_database.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <filesystem>
#include <system_error>
#include <tuple>

#include "external/geo/passport_text.h"
#include "external/tools/atomic_file.h"
#include "external/tools/folders.h"

namespace ortavia::passport {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Longest file name and extension the database keeps (the extension with its dot).
constexpr std::size_t kMaxFileName = 2047;
constexpr std::size_t kMaxExtension = 7;

}  // namespace

PassportKind PassportKindOf(const std::string& path) {
  const std::string ext = Lower(fs::path(path).extension().string());
  if (ext == ".ccb") return PassportKind::kCcb;
  if (ext == ".cvc") return PassportKind::kCvc;
  if (ext == ".cvcc") return PassportKind::kCvcc;
  if (ext == ".bcc") return PassportKind::kBcc;
  if (ext == ".rdr") return PassportKind::kRdr;
  return PassportKind::kNone;
}

std::string PassportFolder() { return EnsureFolders(); }

std::vector<std::string> ListPassports(const std::string& folder) {
  struct Entry {
    PassportKind kind;
    std::string lowerName, name, path;
  };
  std::vector<Entry> entries;
  if (folder.empty()) return {};
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_regular_file(typeEc)) continue;
    const std::string path = it->path().string();
    const PassportKind kind = PassportKindOf(path);
    if (kind == PassportKind::kNone) continue;
    const std::string name = it->path().filename().string();
    entries.push_back({kind, Lower(name), name, path});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return std::tie(a.kind, a.lowerName, a.name) < std::tie(b.kind, b.lowerName, b.name);
  });
  std::vector<std::string> paths;
  paths.reserve(entries.size());
  for (auto& e : entries) paths.push_back(std::move(e.path));
  return paths;
}

std::unique_ptr<geo::CCameraPassport> OpenPassport(const std::string& path) {
  const PassportKind kind = PassportKindOf(path);
  if (kind == PassportKind::kNone) return nullptr;
  if (kind != PassportKind::kCcb) return geo::CCameraPassport::New(path);
  geo::CBCCCameraPassport converted;
  if (geo::CCBtoBCC(path, &converted) == 0) return nullptr;
  return std::make_unique<geo::CBCCCameraPassport>(converted);
}

int ParseRememberedIndex(const std::string& text) {
  if (text.empty()) return -1;
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  long long value = 0;
  const char* first = text.data() + start;
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;  // from_chars takes '-' but not '+'
  const auto [end, ec] = std::from_chars(first, last, value);
  if (end == first) return 0;
  if (ec == std::errc::result_out_of_range) return *first == '-' ? INT_MIN : INT_MAX;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

ImportOutcome ImportPassport(const std::string& source, const std::string& folder,
                             const std::function<bool()>& confirmOverwrite) {
  ImportOutcome outcome;
  const fs::path from(source);
  const std::string name = Lower(from.filename().string());
  if (name.size() > kMaxFileName || Lower(from.extension().string()).size() > kMaxExtension ||
      !OpenPassport(source)) {
    outcome.status = ImportStatus::kNotAPassport;
    return outcome;
  }
  std::error_code ec;
  // Without the database folder nothing may be written, least of all beside the working folder.
  if (folder.empty() || !fs::is_directory(folder, ec)) {
    outcome.status = ImportStatus::kCopyFailed;
    return outcome;
  }
  const fs::path target = fs::path(folder) / name;
  outcome.target = target.string();
  if (fs::equivalent(from, target, ec)) {
    outcome.status = ImportStatus::kUnchanged;
    return outcome;
  }
  if (fs::exists(fs::symlink_status(target, ec)) && !(confirmOverwrite && confirmOverwrite())) {
    outcome.status = ImportStatus::kDeclined;
    return outcome;
  }
  // The probed file is read again: it is small and bounded, and what is written is what was read.
  const auto bytes = geo::ReadPassportFile(source);
  const bool copied = bytes && tools::WriteFileAtomically(target, *bytes);
  outcome.status = copied ? ImportStatus::kImported : ImportStatus::kCopyFailed;
  return outcome;
}

}  // namespace ortavia::passport
