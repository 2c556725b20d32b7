#pragma once
#include <QString>
#include <string>

namespace ortavia::ui {

// A file-dialog filter in Qt's form from the "desc|*.a;*.b|...||" form, each pattern also in upper
// case: the dialogs here match names case-sensitively, and files from other systems come as
// IMG_0001.TIF as often as img_0001.tif.
QString CaseBlindFilter(const std::string& barFilter);

}  // namespace ortavia::ui
