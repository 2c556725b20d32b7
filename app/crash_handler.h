#pragma once
// Crash reports: on a fatal signal or std::terminate a text report is written into
// "<common data>/Kesta/crashes/" with the subject "%s (ver. %s) Error report", the meaning of every
// exception code and the machine's properties. Everything the report needs is formatted when the
// handler is installed, so the handler itself only writes prepared bytes.
#include <string>
#include <utility>
#include <vector>

namespace ortavia::ui {

struct CrashReportSettings {
  std::string appName;
  std::string version;
  std::string folder;  // where reports go; created at installation
  std::string recipient;
  std::string url;
  std::string restartCommand = "/restart";
  std::vector<std::pair<std::string, std::string>> properties;
};

// "0 SEH exception.\n1 C++ terminate() call.\n...12 C++ SIGTERM signal (termination request).;"
std::string ExceptionTypeMeaning();
// The properties every report carries: ExceptionTypeMeaning, OS_Info, Screen_Pixel_Depth,
// Screen_Resolution, RAM_Info and one Graphic_Adapter_%d per adapter (texts of up to 1023 bytes).
std::vector<std::pair<std::string, std::string>> StandardCrashProperties();
// Installs the handlers; false with the reason in error when the report folder is unusable.
bool InstallCrashHandler(const CrashReportSettings& settings, std::string* error);
void UninstallCrashHandler();
// The report text up to the crash-specific lines (tests read it).
std::string CrashReportHeader();

}  // namespace ortavia::ui
