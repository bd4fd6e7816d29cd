// The dialog walk of the "testui" debug command: every dialog once, with sample data.
#pragma once

#include <windows.h>

#include "gui/GuiSettings.h"
#include "gui/IGuiManager.h"

namespace VmGui {

// Walks language, progress (scan and slow mode, with an animation over all stages), retry,
// error with help link, reboot, disk-space error, confirmation, manual and automatic removal.
// Progress goes through the given sink (the installation sequence forwards it to the GUI). Stops
// at the first Cancel of a dialog that offers one; returns true when the walk reached its end.
bool ShowTestUiWalk(IGuiManager& gui, GuiSettings& settings, IProgress& progress, HANDLE stopEvent);

// "ErrorDiskspace" with a sample drive and sizes.
std::wstring SampleDiskSpaceText(GuiSettings& settings);

// The link callback of the walk: a message box "Test callback".
void TestUiCallback();

} // namespace VmGui
