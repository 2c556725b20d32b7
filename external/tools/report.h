#pragma once
// Plain-text report builder: reset, common header, titles and values, common data, path, build.
#include <string>
#include <vector>

void GT_ReportReset();
void GT_ReportFillCommonHeader();  // program, version, computer, user, date
void GT_ReportAddTitle(const std::string& title);
void GT_ReportAddValue(const std::string& name, const std::string& value);
void GT_ReportAddValue(const std::string& name, const std::vector<std::string>& values);
void GT_ReportFillCommonData();  // OS, RAM
void GT_ReportSetTXTPath(const std::string& path);
// Writes the report (through a temporary file, then renamed); 0 = failure.
int GT_ReportBuild();
