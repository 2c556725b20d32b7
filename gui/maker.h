#pragma once
// Who makes the product: shown in the title, the About box and crash reports.
namespace ortavia::ui {

inline constexpr const char* kProductName = "Ortavia";
inline constexpr const char* kMakerName = "Varnell Software";
inline constexpr const char* kMakerWeb = "https://www.varnellsoftware.com";
inline constexpr const char* kMakerWebShort = "www.varnellsoftware.com";
inline constexpr const char* kMakerMail = "support@varnellsoftware.com";

}  // namespace ortavia::ui
