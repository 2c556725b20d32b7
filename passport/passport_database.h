#pragma once
// The passport database: a folder of passport files imported by copying. Listing, opening and
// importing, shared by the passport dialog and the batch runner.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "external/geo/camera_passport.h"

namespace ortavia::passport {

inline constexpr const char* kSelectPassportText = "Select a camera passport";
inline constexpr const char* kInvalidPassportText = "Invalid camera passport!";
inline constexpr const char* kUnableToOpenText = "Unable to open camera passport";
inline constexpr const char* kAlreadyPresentText =
    "Camera passport already present into database.\nDo you want to overwrite it?";
inline constexpr const char* kImportFailedText = "Unable to import the certificate!";
inline constexpr const char* kProfileSection = "Passport";
inline constexpr const char* kProfileIndexKey = "LastSelectedPassportIndex";

// The kinds in listing order; kNone for any other extension. Extensions match without case.
enum class PassportKind { kCcb, kCvc, kCvcc, kBcc, kRdr, kNone };
PassportKind PassportKindOf(const std::string& path);

// The database folder (<data>/Kesta/passports), created when missing; a failure to create it is
// left to the caller, who finds no folder there.
std::string PassportFolder();

// The passport files of the folder (regular files, or links to them), by kind in the order .ccb,
// .cvc, .cvcc, .bcc, .rdr, then by name, so a remembered position survives a restart. Full paths
// as they are on disk; empty when the folder cannot be read.
std::vector<std::string> ListPassports(const std::string& folder);

// Opens a passport file by its real path: a .ccb through CCBtoBCC, every other kind through
// CCameraPassport::New. Null when it is no passport (or not a regular file).
std::unique_ptr<geo::CCameraPassport> OpenPassport(const std::string& path);

// The remembered combo position: empty = -1, otherwise the leading decimal integer (0 when there
// is none), clamped to the int range.
int ParseRememberedIndex(const std::string& text);

enum class ImportStatus {
  kImported,     // copied into the folder
  kUnchanged,    // the file is the database's own copy already
  kNotAPassport, // kUnableToOpenText; nothing copied
  kDeclined,     // the operator kept the present file
  kCopyFailed,   // kImportFailedText; the folder holds what it held before
};

struct ImportOutcome {
  ImportStatus status = ImportStatus::kNotAPassport;
  std::string target;  // the database file the passport went (or would go) to
};

// Copies a passport into the folder under its file name in lower case. confirmOverwrite is asked
// when a file of that name is present; the copy goes through a temporary file and a rename, so a
// failed copy never leaves a truncated passport behind.
ImportOutcome ImportPassport(const std::string& source, const std::string& folder,
                             const std::function<bool()>& confirmOverwrite);

}  // namespace ortavia::passport
