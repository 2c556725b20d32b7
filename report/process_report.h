#pragma once
// The run report "report.txt" in the destination folder: run time, operation mode, result and the
// names of the images in process, processed and skipped.
#include <string>
#include <vector>

namespace ortavia {

inline constexpr const char* kReportSaveFailed = "Unable to save detailed report!";
inline constexpr const char* kNoReportFound = "No report found";

struct ProcessReportInput {
  std::string destinationFolder;
  bool overwrite = false;
  int warpResult = 0;    // 1: the warp loop ran to its end; 0: refused or aborted
  bool aborted = false;  // Stop was confirmed during the run
  std::string warpMode;  // how the orthos were resampled; no line when empty
  std::string occlusion;  // what became of ground an image cannot see; no line when empty
  std::vector<std::string> inProcess;  // names of every row of the run, in order
  std::vector<std::string> processed;
  std::vector<std::string> skipped;
  std::vector<std::string> failed;  // "name: cause" of each image skipped because of an error
};

struct ProcessReportResult {
  bool written = false;
  std::string path;
  std::string elapsed;     // the process timer's text at the time of the report
  std::string resultText;  // "Process DONE", "Some errors during process", "Process aborted by user"
};

// "report.txt" in the folder.
std::string ReportPath(const std::string& destinationFolder);

// The result line: an abort wins over the warp's result.
std::string ProcessResultText(int warpResult, bool aborted);

// Builds and writes the report (replacing the previous one of the folder). The elapsed time is
// read from the process timer (GT_StartTimer) now.
ProcessReportResult WriteProcessReport(const ProcessReportInput& input);

}  // namespace ortavia
