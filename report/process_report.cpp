#include "report/process_report.h"

#include <filesystem>

#include "external/tools/report.h"
#include "external/tools/sysinfo.h"

namespace ortavia {

std::string ReportPath(const std::string& destinationFolder) {
  return (std::filesystem::path(destinationFolder) / "report.txt").string();
}

std::string ProcessResultText(int warpResult, bool aborted) {
  if (aborted) return "Process aborted by user";
  return warpResult == 1 ? "Process DONE" : "Some errors during process";
}

ProcessReportResult WriteProcessReport(const ProcessReportInput& input) {
  ProcessReportResult result;
  result.path = ReportPath(input.destinationFolder);
  result.elapsed = GT_GetElapsedTime();
  result.resultText = ProcessResultText(input.warpResult, input.aborted);

  GT_ReportReset();
  GT_ReportFillCommonHeader();
  GT_ReportAddTitle("PROCESS INFORMATION");
  GT_ReportAddValue("Process time", result.elapsed);
  GT_ReportAddValue("Operation mode",
                    input.overwrite ? "Overwrite previous data" : "Skip previous data");
  if (!input.warpMode.empty()) GT_ReportAddValue("Warp mode", input.warpMode);
  if (!input.occlusion.empty()) GT_ReportAddValue("Hidden ground", input.occlusion);
  GT_ReportAddValue("Process result", result.resultText);
  GT_ReportAddValue("In process", input.inProcess);
  GT_ReportAddValue("Processed", input.processed);
  GT_ReportAddValue("Skipped", input.skipped);
  // Which of the skipped images failed, and why: a run with failures must not read as clean.
  if (!input.failed.empty()) GT_ReportAddValue("Failed", input.failed);
  GT_ReportFillCommonData();
  GT_ReportSetTXTPath(result.path);
  result.written = GT_ReportBuild() != 0;
  return result;
}

}  // namespace ortavia
