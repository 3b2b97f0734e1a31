#include "fakes/ProgramState.h"

#include "Clock.h"
#include "Drv232.h"
#include "Error.h"
#include "Files.h"
#include "Global.h"
#include "Keyboard.h"
#include "MainWindow.h"
#include "Publishing.h"
#include "SerialPort.h"
#include "Sound.h"

namespace fakes {

void ResetProgramState() {
    platform::UseSerial(nullptr);
    platform::UseClock(nullptr);
    platform::UseFiles(nullptr);
    platform::UseKeyboard(nullptr);
    platform::UseWindowRights(nullptr);
    platform::UseSound(nullptr);
    platform::LimitToLinkedPorts(false);
    platform::UseDeviceFolders({}, {});
    site::UsePublishing(nullptr);
    ClosePort();
    PortHandle.reset();
    ReaderVersion.clear();
    LinkLost = false;
    PortAccessDenied = false;
    ChipChars.fill(0);
    KeptChips.clear();
    Settings = TReaderSettings{};
    RunningOrder = 0;
    ChipCode.clear();
    TimeText.clear();
    DisplayRow = 0;
    DemoStopped = false;
    SavedBarColor = 0;
    DemoRandom.seed(std::mt19937::default_seed);
}

}  // namespace fakes
