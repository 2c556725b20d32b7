#pragma once
// What the exterior-orientation import window shows and does, without the window: the point
// file split into a grid ("Parsed Data"), the assignment of grid columns to the seven quantities,
// the seven-column table built from it ("Imported Points") with its corrections, the table's
// text export and the import into the project's orientations.
//
// The window holds one model, feeds it the texts of its boxes and the operator's clicks, and
// shows the model's grid and table after every call. Rows and columns are 0-based here.
#include <array>
#include <map>
#include <string>
#include <vector>

#include "external/geo/orientation.h"
#include "extor/point_file_settings.h"
#include "model/run_context.h"

namespace ortavia::extor {

// The seven quantities, in table-column order.
enum Quantity : int { kId = 0, kX, kY, kZ, kOmega, kPhi, kKappa };
inline constexpr int kQuantityCount = 7;
// "ID", "X", "Y", "Z", "Omega (Yaw)", "Phi (Pitch)", "Kappa (Heading)".
const char* QuantityCaption(int quantity);
inline constexpr const char* kParsedColumnCaption = "Click..";

// Column-assignment menu of a "Parsed Data" header: command id = kAssignIdCommand + quantity.
inline constexpr int kAssignIdCommand = 10000;
// Correction commands of an "Imported Points" header.
enum class Correction : int {
  kChangeSign = 10007,  // X, Y, Z
  kResetContent = 10009,  // Omega, Phi, Kappa
  kDegToRad = 10010,
  kGradToRad = 10011,
};
struct MenuEntry {
  int command = 0;  // 0 = separator
  std::string caption;
};
// The assignment menu ("-> ID", separator, "-> X" ...).
std::vector<MenuEntry> AssignMenu();
// The correction menu of a table column; empty for ID.
std::vector<MenuEntry> CorrectionMenu(int column);

inline constexpr const char* kUnableToOpenMessage = "Unable to open the selected file!";
inline constexpr const char* kMakeSelectionMessage = "Make a selection";
// "%d External Orientations successfully added."
std::string ImportedMessage(int count);

// Outcome of loading the point file into the grid.
struct LoadResult {
  enum class Status { kOk, kNoFile, kUnreadable };
  Status status = Status::kNoFile;
  std::string detail;  // why it was unreadable, for the log
  int lines = 0;       // lines of the file, empty ones included
  int dataRows = 0;
  int commentLines = 0;
  bool cutAtNul = false;  // the file held a NUL byte; everything after it is ignored
};

// Outcome of "Import".
struct ImportResult {
  enum class Status { kOk, kNoSelection, kNoMatch, kAborted };
  Status status = Status::kNoSelection;
  int imported = 0;           // orientations written
  int nonNumericRows = 0;     // selected rows skipped: a coordinate or angle is no number
  int overlongIdRows = 0;     // selected rows skipped: ID longer than 1023 bytes
  int duplicateRows = 0;      // rows whose ID an earlier row already gave
  int unmatchedRows = 0;      // rows matching no image
  std::vector<std::string> logLines;  // one line per kind of rejected row, only when above 0
};

class ExtOrImportModel {
 public:
  // Grid limits: a file beyond them is refused as unreadable, never held half.
  static constexpr int kMaxColumns = 1024;
  static constexpr std::size_t kMaxCells = std::size_t{1} << 21;
  static constexpr int kMaxRows = 250000;  // data lines; far beyond any image block
  static constexpr std::size_t kMaxIdBytes = 1023;

  ExtOrImportModel();

  // The boxes. Neither call reloads: the window calls Load() after each, as the boxes change.
  void SetFilePath(const std::string& path) { filePath_ = path; }
  void SetComments(const std::string& comments) { comments_ = comments; }
  // The "Separators:" text; a tab is always added (at most 9 separators take effect).
  void SetSeparatorsText(const std::string& text) { separators_ = text + '\t'; }
  const std::string& FilePath() const { return filePath_; }
  const std::string& Comments() const { return comments_; }
  const std::string& Separators() const { return separators_; }

  // The window's events, each as the window handles it. Opening: the stored comment and
  // separator texts (returned for the boxes) become the model's; nothing is loaded yet.
  PointFileSettings OpenWithStoredSettings();
  // A confirmed file choice: remembered and loaded.
  LoadResult ChooseFile(const std::string& path, const RunContext& context = {});
  // Each change of a box: stored in the profile, then the file is loaded again.
  LoadResult EditComments(const std::string& text, const RunContext& context = {});
  LoadResult EditSeparators(const std::string& text, const RunContext& context = {});

  // Reads the file into the grid and rebuilds the table. The old grid is always cleared first;
  // on failure it stays empty (the window then shows kUnableToOpenMessage).
  LoadResult Load(const RunContext& context = {});

  const std::vector<std::vector<std::string>>& Parsed() const { return parsed_; }
  int ParsedColumnCount() const { return parsedColumns_; }

  // Column assignment; -1 = none. Each call rebuilds the table, discarding corrections.
  int SourceColumn(int quantity) const;
  const std::array<int, kQuantityCount>& SourceColumns() const { return sourceColumn_; }
  void SetSourceColumns(const std::array<int, kQuantityCount>& columns);
  void AssignColumn(int quantity, int parsedColumn);
  bool ApplyAssignCommand(int command, int parsedColumn);  // menu command id 10000..10006
  void ResetAssignment();  // ID, X, Y, Z back to columns 0..3; angles kept
  void CleanAssignment();  // ID, X, Y, Z to -1; angles kept

  using Row = std::array<std::string, kQuantityCount>;
  const std::vector<Row>& Imported() const { return imported_; }
  // Applies a correction to every row of a table column; false when it does not belong there.
  bool ApplyCorrection(int column, Correction correction);

  // "Save As..": selected rows (in list order) joined by the output separator (its first byte,
  // "," when empty), each followed by "\n". No header line.
  std::string ExportText(const std::vector<int>& selectedRows, const std::string& separator) const;
  // Writes ExportText through a temporary file; false (with the reason) when it cannot be written.
  bool SaveAs(const std::string& path, const std::vector<int>& selectedRows,
              const std::string& separator, std::string* error = nullptr) const;

  // "Import": the selected rows into the orientations, matched by image name. Angles are taken
  // as radians. The map is changed only when the whole import went through.
  ImportResult Import(const std::vector<int>& selectedRows,
                      std::map<std::string, geo::COrientation>& orientations,
                      const RunContext& context = {}) const;

 private:
  void RebuildImported();

  std::string filePath_;
  std::string comments_;
  std::string separators_;
  std::array<int, kQuantityCount> sourceColumn_{};
  std::vector<std::vector<std::string>> parsed_;
  int parsedColumns_ = 0;
  std::vector<Row> imported_;
};

// The output-separator box keeps only its first byte once it holds two or more.
std::string NormalizeOutputSeparator(const std::string& text);
// A point-file ID reduced to an image name: drive, folders ('/' or '\') and extension removed,
// lower case. "C:\photos\IMG_0012.JPG" -> "img_0012".
std::string ImageNameFromId(const std::string& id);

}  // namespace ortavia::extor
