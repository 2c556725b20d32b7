#pragma once

namespace ortavia::ui {

// Qt takes the process locale from the desktop when the application object is made. Numbers the
// engine writes and reads (world files, reports, passports, the import corrections) must keep the
// decimal point whatever the desktop's language: call this right after the application object.
// Texts, dates and sorting keep the desktop's locale.
void KeepNumbersInCLocale();

}  // namespace ortavia::ui
