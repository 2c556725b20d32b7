#pragma once
// Texts about the program and the machine, for the log, the report and crash reports.
#include <string>
#include <vector>

std::string GT_GetVersionInfo();   // "1,0,0,0" style, as the About box expects commas
std::string GT_GetUserName();
std::string GT_GetComputerName();
std::string GT_GetOSInfo();
std::string GT_GetRAMInfo();
std::string GT_GetResolution();    // "" when no screen is known
std::string GT_GetPixelDepth();
std::vector<std::string> GT_GetDisplayAdaptersList();
std::string GT_GetCurrentSysDate(int reserved1, int reserved2);  // "YYYY-MM-DD"
std::string GT_GetCurrentSysTime();                              // "HH:MM:SS"

void GT_StartTimer();
std::string GT_GetElapsedTime();  // "H:MM:SS" since GT_StartTimer

// The engine has no screen: the windows tell what they know, for the report and crash reports.
void GT_SetDisplayInfo(const std::string& resolution, const std::string& pixelDepth,
                       const std::vector<std::string>& adapters);
