// Which implementation of each facility is in use.
#include "Clock.h"
#include "Error.h"
#include "Files.h"
#include "Keyboard.h"
#include "SerialPort.h"
#include "Sound.h"

namespace platform {

// The implementations in use; null means the operating system's. Tests install
// their own and ResetProgramState (tests/fakes/ProgramState.h) puts them back.
namespace {
SerialPorts* serialInUse = nullptr;
Clock* clockInUse = nullptr;
Files* filesInUse = nullptr;
Keyboard* keyboardInUse = nullptr;
WindowRights* rightsInUse = nullptr;
Sound* soundInUse = nullptr;
}  // namespace

SerialPorts& Serial() {
    return serialInUse ? *serialInUse : SystemSerial();
}
void UseSerial(SerialPorts* ports) {
    serialInUse = ports;
}

Clock& TheClock() {
    return clockInUse ? *clockInUse : SystemClock();
}
void UseClock(Clock* clock) {
    clockInUse = clock;
}

Files& TheFiles() {
    return filesInUse ? *filesInUse : SystemFiles();
}
void UseFiles(Files* files) {
    filesInUse = files;
}

Keyboard& TheKeyboard() {
    return keyboardInUse ? *keyboardInUse : SystemKeyboard();
}
void UseKeyboard(Keyboard* keyboard) {
    keyboardInUse = keyboard;
}

WindowRights& TheWindowRights() {
    return rightsInUse ? *rightsInUse : SystemWindowRights();
}
void UseWindowRights(WindowRights* rights) {
    rightsInUse = rights;
}

Sound& TheSound() {
    return soundInUse ? *soundInUse : SystemSound();
}
void UseSound(Sound* sound) {
    soundInUse = sound;
}

KeyChoice ChooseKeyRoute(const KeySession& s) {
    if (s.waylandDisplay && s.uinput == Error::None)
        return {KeyRoute::Uinput, KeyboardNotice::None};
    const bool missing = s.uinput == Error::NotFound;
    const bool refused = s.uinput == Error::AccessDenied;
    if (s.xDisplay) {
        if (!s.waylandDisplay)
            return {KeyRoute::X11,
                    s.waylandSession ? KeyboardNotice::X11Only : KeyboardNotice::None};
        return {KeyRoute::X11, missing   ? KeyboardNotice::X11OnlyNoUinput
                               : refused ? KeyboardNotice::X11OnlyNoAccess
                                         : KeyboardNotice::X11Only};
    }
    if (!s.waylandDisplay)
        return {KeyRoute::Nothing, KeyboardNotice::NoDisplay};
    return {KeyRoute::Nothing, refused ? KeyboardNotice::NoAccess : KeyboardNotice::NoUinput};
}

KeyboardNotice KeysBarred(const ProcessRights& ours, const ProcessRights& target) {
    // No integrity levels on this system (before Windows Vista), or our own
    // rights unknown: no reason to hold the keys back.
    if (!ours.known || ours.integrity == 0)
        return KeyboardNotice::None;
    // A token we may not read is another user's (mostly an administrator's
    // program started from our session with that password), or guarded
    // more closely than ours. Only a program of high integrity is sure to
    // reach it.
    if (!target.known)
        return ours.integrity < HighIntegrity ? KeyboardNotice::TargetRightsUnknown
                                              : KeyboardNotice::None;
    if (target.integrity > ours.integrity ||
        (target.integrity == 0 && target.elevated && !ours.elevated))
        return KeyboardNotice::TargetElevated;
    return KeyboardNotice::None;
}

std::string WindowsPortName(int n) {
    std::string name = "COM" + std::to_string(n);
    return n > 9 ? "\\\\.\\" + name : name;
}

const char* OverrideInUse() {
    if (serialInUse)
        return "serial ports";
    if (clockInUse)
        return "clock";
    if (filesInUse)
        return "files";
    if (keyboardInUse)
        return "keyboard";
    if (rightsInUse)
        return "window rights";
    if (soundInUse)
        return "sound";
    return nullptr;
}

const char* ErrorText(Error error) {
    switch (error) {
        case Error::None:
            return "no error";
        case Error::NotFound:
            return "not found";
        case Error::AccessDenied:
            return "access denied";
        case Error::Busy:
            return "in use";
        case Error::NotSupported:
            return "not supported";
        case Error::TimedOut:
            return "timed out";
        case Error::HungUp:
            return "hung up";
        case Error::IsDirectory:
            return "is a directory";
        case Error::NoSpace:
            return "no space left";
        case Error::Invalid:
            return "invalid";
        case Error::Other:
            break;
    }
    return "error";
}

}  // namespace platform
