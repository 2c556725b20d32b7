#include "external/tools/report.h"

#include <mutex>

#include "external/tools/atomic_file.h"
#include "external/tools/sysinfo.h"

namespace {

struct ReportState {
  std::string text;
  std::string path;
};

std::mutex g_reportMutex;
ReportState g_report;

std::string Underline(const std::string& title, char c) {
  return title + "\n" + std::string(title.size(), c) + "\n";
}

// Continuation lines of a value are indented so every entry still starts at the margin.
std::string Indented(const std::string& value, const std::string& indent) {
  std::string out;
  for (const char c : value) {
    if (c == '\r') continue;
    out += c;
    if (c == '\n') out += indent;
  }
  return out;
}

void AppendSection(const std::string& block) {
  std::lock_guard lock(g_reportMutex);
  if (!g_report.text.empty()) g_report.text += '\n';
  g_report.text += block;
}

void AppendLine(const std::string& line) {
  std::lock_guard lock(g_reportMutex);
  g_report.text += line;
}

std::string DottedVersion() {
  std::string v = GT_GetVersionInfo();
  for (char& c : v)
    if (c == ',') c = '.';
  return v;
}

}  // namespace

void GT_ReportReset() {
  std::lock_guard lock(g_reportMutex);
  g_report = {};
}

void GT_ReportFillCommonHeader() {
  std::string block = Underline("Ortavia report", '=');
  block += "Program:  Ortavia\n";
  block += "Version:  " + DottedVersion() + "\n";
  block += "Computer: " + GT_GetComputerName() + "\n";
  block += "User:     " + GT_GetUserName() + "\n";
  block += "Date:     " + GT_GetCurrentSysDate(0, 0) + " " + GT_GetCurrentSysTime() + "\n";
  AppendSection(block);
}

void GT_ReportAddTitle(const std::string& title) { AppendSection(Underline(title, '-')); }

void GT_ReportAddValue(const std::string& name, const std::string& value) {
  AppendLine(name + ": " + Indented(value, "    ") + "\n");
}

void GT_ReportAddValue(const std::string& name, const std::vector<std::string>& values) {
  std::string block = name + " (" + std::to_string(values.size()) + "):\n";
  for (const std::string& v : values) block += "    " + Indented(v, "        ") + "\n";
  AppendLine(block);
}

void GT_ReportFillCommonData() {
  std::string block = Underline("SYSTEM", '-');
  block += "OS: " + GT_GetOSInfo() + "\n";
  block += "RAM: " + GT_GetRAMInfo() + "\n";
  if (const std::string r = GT_GetResolution(); !r.empty()) block += "Resolution: " + r + "\n";
  if (const std::string d = GT_GetPixelDepth(); !d.empty()) block += "Pixel depth: " + d + "\n";
  const std::vector<std::string> adapters = GT_GetDisplayAdaptersList();
  for (std::size_t i = 0; i < adapters.size(); ++i)
    block += "Graphic adapter " + std::to_string(i) + ": " + adapters[i] + "\n";
  AppendSection(block);
}

void GT_ReportSetTXTPath(const std::string& path) {
  std::lock_guard lock(g_reportMutex);
  g_report.path = path;
}

int GT_ReportBuild() {
  ReportState report;
  {
    std::lock_guard lock(g_reportMutex);
    report = g_report;
  }
  if (report.path.empty()) return 0;
  return ortavia::tools::WriteFileAtomically(report.path, report.text) ? 1 : 0;
}
