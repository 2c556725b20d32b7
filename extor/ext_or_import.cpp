// "Import" of the exterior-orientation model: selected table rows into the project's
// orientations, matched by image name.
#include <algorithm>
#include <cctype>
#include <unordered_map>
#include <unordered_set>

#include "external/geo/string_to_dbl.h"
#include "extor/ext_or_import_model.h"
#include "model/project.h"

namespace ortavia::extor {
namespace {

constexpr int kProgressStep = 256;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The six numbers of a row, or false when one of them is no number (an empty cell included).
bool ReadNumbers(const ExtOrImportModel::Row& row, ExtOrientation& eo) {
  double* targets[] = {&eo.x, &eo.y, &eo.z, &eo.omega, &eo.phi, &eo.kappa};
  for (int j = 0; j < 6; ++j)
    if (!geo::StringToDbl(row[static_cast<std::size_t>(j + 1)], targets[j])) return false;
  return true;
}

void AddLogLine(ImportResult& result, int count, const std::string& what) {
  if (count > 0) result.logLines.push_back(std::to_string(count) + " " + what);
}

}  // namespace

std::string ImageNameFromId(const std::string& id) {
  std::string_view name = id;
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.remove_suffix(1);
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front()))) name.remove_prefix(1);
  // Folders of either kind and a drive letter go: the file may come from another machine.
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
    name.remove_prefix(2);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  return Lower(name);
}

ImportResult ExtOrImportModel::Import(const std::vector<int>& selectedRows,
                                      std::map<std::string, geo::COrientation>& orientations,
                                      const RunContext& context) const {
  ImportResult result;
  std::vector<int> rows = selectedRows;
  std::erase_if(rows, [&](int r) { return r < 0 || static_cast<std::size_t>(r) >= imported_.size(); });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (rows.empty()) return result;

  const int total = static_cast<int>(rows.size() + orientations.size());
  context.SetRange(0, total);
  context.SetPos(0);
  int progress = 0;
  const auto step = [&]() {
    ++progress;
    if (progress % kProgressStep != 0) return false;
    context.SetPos(progress);
    return context.AbortCheck();
  };

  std::vector<ExtOrientation> records;
  std::unordered_map<std::string, std::size_t> firstByName;
  for (const int r : rows) {
    if (step()) {
      result.status = ImportResult::Status::kAborted;
      return result;
    }
    const Row& row = imported_[static_cast<std::size_t>(r)];
    if (row[kId].size() > kMaxIdBytes) {
      ++result.overlongIdRows;
      continue;
    }
    ExtOrientation eo;
    eo.id = row[kId];
    if (!ReadNumbers(row, eo)) {
      ++result.nonNumericRows;
      continue;
    }
    // The first row of a name wins; later ones are reported, not silently merged.
    if (!firstByName.emplace(ImageNameFromId(eo.id), records.size()).second) {
      ++result.duplicateRows;
      continue;
    }
    records.push_back(std::move(eo));
  }

  // Changes are collected first so an aborted import leaves every orientation as it was.
  std::vector<std::pair<geo::COrientation*, geo::COrientation>> updates;
  std::unordered_set<std::size_t> used;
  for (auto& [key, orientation] : orientations) {
    if (step()) {
      result.status = ImportResult::Status::kAborted;
      return result;
    }
    const auto found = firstByName.find(Lower(key));
    if (found == firstByName.end()) continue;
    geo::COrientation updated = orientation;
    ApplyExtOrientation(records[found->second], updated);
    updates.emplace_back(&orientation, updated);
    used.insert(found->second);
  }
  for (auto& [target, updated] : updates) *target = updated;
  result.imported = static_cast<int>(updates.size());
  result.unmatchedRows = static_cast<int>(records.size() - used.size());
  context.SetPos(0);

  AddLogLine(result, result.nonNumericRows,
             "rows skipped: a coordinate or an angle is not a number");
  AddLogLine(result, result.overlongIdRows, "rows skipped: ID longer than 1023 characters");
  AddLogLine(result, result.duplicateRows, "rows skipped: an earlier row has the same ID");
  for (const std::string& line : result.logLines) context.Log(line);
  result.status = result.imported > 0 ? ImportResult::Status::kOk : ImportResult::Status::kNoMatch;
  return result;
}

}  // namespace ortavia::extor
