#pragma once
// Pictures drawn by the program itself: step indicators, the window icon and the splash.
#include <QIcon>
#include <QPixmap>

namespace ortavia::ui {

// Status picture of a step: a green tick when ready, a grey ring when not.
QPixmap StepPixmap(bool ready, int size = 22);
QIcon AppIcon();
QPixmap SplashPixmap(const QString& version);

}  // namespace ortavia::ui
