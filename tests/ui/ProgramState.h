// Puts the program-wide state back as a process has it when it starts, so
// that every window test begins like a fresh program.
#pragma once

#include <QColor>

#include "Drv232.h"
#include "Global.h"
#include "MainWindow.h"

namespace uitest {

inline void ResetProgramState() {
    ClosePort();
    PortHandle.reset();
    Settings = TReaderSettings{};
    RunningOrder = 0;
    ReaderVersion.clear();
    DisplayRow = 0;
    DemoStopped = false;
    SavedBarColor = QColor();
    ChipChars.fill(0);
    ChipCode.clear();
    TimeText.clear();
}

}  // namespace uitest
