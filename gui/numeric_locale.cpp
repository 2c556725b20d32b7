#include "gui/numeric_locale.h"

#include <clocale>

namespace ortavia::ui {

void KeepNumbersInCLocale() { std::setlocale(LC_NUMERIC, "C"); }

}  // namespace ortavia::ui
