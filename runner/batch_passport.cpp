#include "runner/batch_passport.h"

#include <charconv>
#include <filesystem>
#include <string>

#include "passport/distortion_formula.h"
#include "passport/passport_database.h"
#include "passport/passport_table.h"

namespace ortavia {
namespace fs = std::filesystem;

namespace {


// A path as given, or else a file of that name in the database.
std::string ResolvePassportFile(const std::string& file) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(file, ec)) || fs::path(file).has_parent_path()) return file;
  const std::string folder = passport::PassportFolder();
  if (folder.empty()) return file;
  const fs::path inFolder = fs::path(folder) / file;
  return fs::exists(inFolder, ec) ? inFolder.string() : file;
}

std::string CurveNumber(double value) {
  if (value == 0.0) value = 0.0;  // no "-0"
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

int List(const BatchIo& io) {
  std::string text;
  for (const auto& path : passport::ListPassports(passport::PassportFolder()))
    text += fs::path(path).filename().string() + "\n";
  Out(io, text);
  return kBatchDone;
}

int Show(const std::string& file, const BatchIo& io) {
  const auto opened = passport::OpenPassport(ResolvePassportFile(file));
  if (!opened) {
    Error(io, std::string(passport::kInvalidPassportText) + " " + file);
    return kBatchRefused;
  }
  passport::PassportTable table = passport::InitialPassportTable();
  passport::ShowPassportValues(opened.get(), table);
  std::string text;
  for (const auto& row : table) text += row.label + "\t" + row.value + "\t" + row.other + "\n";
  Out(io, text);
  return kBatchDone;
}

int Import(const BatchPassportOptions& o, const BatchIo& io) {
  const bool overwrite = o.overwrite;
  const auto outcome = passport::ImportPassport(o.file, passport::PassportFolder(),
                                                [overwrite] { return overwrite; });
  switch (outcome.status) {
    case passport::ImportStatus::kImported:
      Out(io, "imported " + outcome.target + "\n");
      return kBatchDone;
    case passport::ImportStatus::kUnchanged:
      Out(io, "already the database's own copy: " + outcome.target + "\n");
      return kBatchDone;
    case passport::ImportStatus::kNotAPassport:
      Error(io, std::string(passport::kUnableToOpenText) + ": " + o.file);
      return kBatchRefused;
    case passport::ImportStatus::kDeclined:
      Error(io, "Camera passport already present into database: " + outcome.target +
                    " (give --overwrite to replace it)");
      return kBatchRefused;
    case passport::ImportStatus::kCopyFailed: break;
  }
  Error(io, std::string(passport::kImportFailedText) + " " +
                (outcome.target.empty() ? "(no passport folder)" : outcome.target));
  return kBatchRefused;
}

int Curve(const BatchPassportOptions& o, const BatchIo& io) {
  const auto opened = passport::OpenPassport(ResolvePassportFile(o.file));
  if (!opened) {
    Error(io, std::string(passport::kInvalidPassportText) + " " + o.file);
    return kBatchRefused;
  }
  passport::PassportTable table = passport::InitialPassportTable();
  passport::ShowPassportValues(opened.get(), table);
  passport::FormulaParser parser;
  if (const auto failure = parser.Create()) {
    Error(io, failure->caption + ": " + failure->text);
    return kBatchProcessError;
  }
  const auto curve = passport::SampleDistortionCurve(
      parser, o.tangential ? passport::CurveKind::kTangential : passport::CurveKind::kRadial, table);
  if (curve.status != passport::CurveOutcome::Status::kDrawn) {
    Error(io, curve.message);
    return kBatchRefused;
  }
  std::string text;
  for (int i = 0; i < passport::kCurvePoints; ++i)
    text += std::to_string(i) + "\t" + CurveNumber(curve.values[i]) + "\n";
  Out(io, text);
  return kBatchDone;
}

}  // namespace

int RunPassportCommand(const BatchPassportOptions& options, const BatchIo& io) {
  if (options.action == "list") return List(io);
  if (options.action == "show") return Show(options.file, io);
  if (options.action == "import") return Import(options, io);
  return Curve(options, io);
}

}  // namespace ortavia
