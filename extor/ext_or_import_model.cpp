#include "extor/ext_or_import_model.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "external/geo/string_to_dbl.h"
#include "external/tools/atomic_file.h"
#include "extor/parse_it.h"

namespace ortavia::extor {
namespace {

constexpr std::array<const char*, kQuantityCount> kCaptions = {
    "ID", "X", "Y", "Z", "Omega (Yaw)", "Phi (Pitch)", "Kappa (Heading)"};
constexpr std::array<int, kQuantityCount> kInitialSources = {0, 1, 2, 3, 4, 5, 6};
constexpr int kProgressStep = 256;  // lines between two progress updates

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The value with a fixed number of decimals and a decimal point, whatever the process locale
// (printf's "%.3f" and "%f" would write the desktop's decimal comma).
std::string Fixed(double value, int decimals) {
  char text[400];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

bool IsCoordinateColumn(int column) { return column >= kX && column <= kZ; }
bool IsAngleColumn(int column) { return column >= kOmega && column <= kKappa; }

// Rows that exist, ascending, each once.
std::vector<int> CleanSelection(std::vector<int> rows, std::size_t rowCount) {
  std::erase_if(rows, [&](int r) { return r < 0 || static_cast<std::size_t>(r) >= rowCount; });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

LoadResult Unreadable(std::string detail) {
  LoadResult r;
  r.status = LoadResult::Status::kUnreadable;
  r.detail = std::move(detail);
  return r;
}

}  // namespace

const char* QuantityCaption(int quantity) {
  return quantity >= 0 && quantity < kQuantityCount ? kCaptions[static_cast<std::size_t>(quantity)]
                                                     : "";
}

std::vector<MenuEntry> AssignMenu() {
  std::vector<MenuEntry> menu;
  for (int q = 0; q < kQuantityCount; ++q) {
    if (q == kX || q == kOmega) menu.push_back({0, ""});
    menu.push_back({kAssignIdCommand + q, std::string("-> ") + kCaptions[static_cast<std::size_t>(q)]});
  }
  return menu;
}

std::vector<MenuEntry> CorrectionMenu(int column) {
  if (IsCoordinateColumn(column))
    return {{static_cast<int>(Correction::kChangeSign), "Change sign to column"}};
  if (IsAngleColumn(column))
    return {{static_cast<int>(Correction::kDegToRad), "DEG to RAD"},
            {static_cast<int>(Correction::kGradToRad), "GRAD to RAD"},
            {0, ""},
            {static_cast<int>(Correction::kResetContent), "Reset Content"}};
  return {};
}

std::string ImportedMessage(int count) {
  return std::to_string(count) + " External Orientations successfully added.";
}

std::string NormalizeOutputSeparator(const std::string& text) {
  return text.size() >= 2 ? text.substr(0, 1) : text;
}

ExtOrImportModel::ExtOrImportModel() : sourceColumn_(kInitialSources) {}

LoadResult ExtOrImportModel::Load(const RunContext& context) {
  parsed_.clear();
  parsedColumns_ = 0;
  LoadResult result;
  if (filePath_.empty()) {
    RebuildImported();
    return result;
  }
  CParseIt lines;
  lines.SetSeparators("\n\r");
  if (!lines.ReadFile(filePath_) || !lines.Parse()) {
    RebuildImported();
    return Unreadable(lines.LastError());
  }
  result.lines = lines.GetCount();
  result.cutAtNul = lines.CutAtNul();
  context.SetRange(0, result.lines);
  context.SetPos(0);

  std::size_t cells = 0;
  CParseIt fields;
  for (int i = 1; i <= result.lines; ++i) {
    if (i % kProgressStep == 0) {
      context.SetPos(i);
      context.Pump();
    }
    const std::string_view line = lines.FieldView(i);
    if (line.empty()) continue;
    // Only the first byte marks a comment: an indented '#' line is data.
    if (comments_.find(line.front()) != std::string::npos) {
      ++result.commentLines;
      continue;
    }
    fields.Reset();
    fields.ParseString(line, separators_.c_str());
    const int count = fields.GetCount();
    cells += static_cast<std::size_t>(count);
    if (count > kMaxColumns || cells > kMaxCells || parsed_.size() >= kMaxRows) {
      parsed_.clear();
      parsedColumns_ = 0;
      context.SetPos(0);
      RebuildImported();
      if (count > kMaxColumns)
        return Unreadable("line " + std::to_string(i) + " has more than " +
                          std::to_string(kMaxColumns) + " fields");
      if (cells > kMaxCells)
        return Unreadable("more than " + std::to_string(kMaxCells) + " fields in the file");
      return Unreadable("more than " + std::to_string(kMaxRows) + " data lines in the file");
    }
    std::vector<std::string>& row = parsed_.emplace_back();
    row.reserve(static_cast<std::size_t>(count));
    for (int k = 1; k <= count; ++k) row.emplace_back(fields.FieldView(k));
    parsedColumns_ = std::max(parsedColumns_, count);
  }
  result.status = LoadResult::Status::kOk;
  result.dataRows = static_cast<int>(parsed_.size());
  context.SetPos(0);
  RebuildImported();
  return result;
}

PointFileSettings ExtOrImportModel::OpenWithStoredSettings() {
  const PointFileSettings settings = LoadPointFileSettings();
  SetComments(settings.comments);
  SetSeparatorsText(settings.separators);
  return settings;
}

LoadResult ExtOrImportModel::ChooseFile(const std::string& path, const RunContext& context) {
  SetFilePath(path);
  return Load(context);
}

LoadResult ExtOrImportModel::EditComments(const std::string& text, const RunContext& context) {
  SetComments(text);
  StoreComments(text);  // a profile that cannot be written must not stop the editing
  return Load(context);
}

LoadResult ExtOrImportModel::EditSeparators(const std::string& text, const RunContext& context) {
  SetSeparatorsText(text);
  StoreSeparators(text);
  return Load(context);
}

int ExtOrImportModel::SourceColumn(int quantity) const {
  return quantity >= 0 && quantity < kQuantityCount ? sourceColumn_[static_cast<std::size_t>(quantity)]
                                                     : -1;
}

void ExtOrImportModel::AssignColumn(int quantity, int parsedColumn) {
  if (quantity < 0 || quantity >= kQuantityCount) return;
  sourceColumn_[static_cast<std::size_t>(quantity)] = parsedColumn < 0 ? -1 : parsedColumn;
  RebuildImported();
}

void ExtOrImportModel::SetSourceColumns(const std::array<int, kQuantityCount>& columns) {
  for (std::size_t q = 0; q < columns.size(); ++q) sourceColumn_[q] = columns[q] < 0 ? -1 : columns[q];
  RebuildImported();
}

bool ExtOrImportModel::ApplyAssignCommand(int command, int parsedColumn) {
  const int quantity = command - kAssignIdCommand;
  if (quantity < 0 || quantity >= kQuantityCount) return false;
  AssignColumn(quantity, parsedColumn);
  return true;
}

void ExtOrImportModel::ResetAssignment() {
  for (int q = kId; q <= kZ; ++q) sourceColumn_[static_cast<std::size_t>(q)] = q;
  RebuildImported();
}

void ExtOrImportModel::CleanAssignment() {
  for (int q = kId; q <= kZ; ++q) sourceColumn_[static_cast<std::size_t>(q)] = -1;
  RebuildImported();
}

void ExtOrImportModel::RebuildImported() {
  imported_.clear();
  imported_.reserve(parsed_.size());
  for (const auto& cells : parsed_) {
    Row& row = imported_.emplace_back();
    for (std::size_t j = 0; j < row.size(); ++j) {
      const int source = sourceColumn_[j];
      if (source >= 0 && static_cast<std::size_t>(source) < cells.size())
        row[j] = Lower(cells[static_cast<std::size_t>(source)]);
    }
  }
}

bool ExtOrImportModel::ApplyCorrection(int column, Correction correction) {
  const bool fits = correction == Correction::kChangeSign ? IsCoordinateColumn(column)
                                                           : IsAngleColumn(column);
  if (!fits) return false;
  const auto j = static_cast<std::size_t>(column);
  for (Row& row : imported_) {
    std::string& cell = row[j];
    switch (correction) {
      case Correction::kChangeSign:
        // A cell without any number stays as it is: turning it into "-0.000" would make a
        // missing coordinate look like a real one.
        if (HasLeadingNumber(cell)) cell = Fixed(-LeadingDouble(cell) + 0.0, 3);
        break;
      case Correction::kDegToRad:
      case Correction::kGradToRad: {
        double value = 0.0;
        if (cell.empty() || !geo::StringToDbl(cell, &value)) break;
        const double half = correction == Correction::kDegToRad ? 180.0 : 200.0;
        cell = Fixed(value / half * std::numbers::pi, 6);
        break;
      }
      case Correction::kResetContent:
        cell.clear();
        break;
    }
  }
  return true;
}

std::string ExtOrImportModel::ExportText(const std::vector<int>& selectedRows,
                                         const std::string& separator) const {
  const std::string sep = separator.empty() ? std::string(",") : separator.substr(0, 1);
  std::string text;
  for (const int r : CleanSelection(selectedRows, imported_.size())) {
    const Row& row = imported_[static_cast<std::size_t>(r)];
    for (std::size_t j = 0; j < row.size(); ++j) {
      if (j) text += sep;
      text += row[j];
    }
    text += '\n';
  }
  return text;
}

bool ExtOrImportModel::SaveAs(const std::string& path, const std::vector<int>& selectedRows,
                              const std::string& separator, std::string* error) const {
  if (tools::WriteFileAtomically(path, ExportText(selectedRows, separator))) return true;
  if (error) *error = "Unable to write the file " + path;
  return false;
}

}  // namespace ortavia::extor
