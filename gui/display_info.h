#pragma once
// Tells the engine's system texts what the windows know about the screens and display adapters.
namespace ortavia::ui {

void PublishDisplayInfo();

}  // namespace ortavia::ui
