// The program's texts. Those marked "Fixed" are what operators, their
// instructions and other programs know the program by: they never change, not
// by a space (several end in one) nor by a byte (0xED is "í" in the Windows
// code page the program was made for). The control captions are fixed in the
// same way and live in the layout table (Layout.cpp). Texts are single-byte
// characters; the window turns them into its own encoding.
#pragma once

namespace texts {

// ---- Fixed: files ----
inline constexpr const char* SettingsFile = "ZV4815.INI";
// The daily log: "ZV" + day + "D" + month + "M" + ".txt".
inline constexpr const char* LogPrefix = "ZV";
inline constexpr const char* LogDay = "D";
inline constexpr const char* LogMonth = "M";
inline constexpr const char* LogExtension = ".txt";

// ---- Fixed: windows ----
inline constexpr const char* MainCaption = "Chip Reader ZEVO";
inline constexpr const char* ErrorCaption = "Error";
inline constexpr const char* ErrorButton = "OK";
inline constexpr const char* ManufacturerCaption = "Manufacturer information";
inline constexpr const char* DemoCaption = "Demo";
inline constexpr const char* StopCaption = "Stop";

// ---- Fixed: the status line ----
inline constexpr const char* StatusDesign = "Info";
inline constexpr const char* TestingPort = "I test the port COM";  // + port
inline constexpr const char* Connected = "Connected device ZEVO";  // + id + OnPort + port
inline constexpr const char* OnPort = " on port COM";
inline constexpr const char* NoDevice = "No device was identified on any serial port.";
inline constexpr const char* ClosingFailed = "Error closing port";  // also an error box
inline constexpr const char* Blocked = "Reader blocked";
inline constexpr const char* BlockingFailed = "Error blocking the reader";
inline constexpr const char* Unblocked = "Reader unblocked";
inline constexpr const char* UnblockingFailed = "Error unblocking the reader";
inline constexpr const char* LedIsOn = "The LED is on\xED";
inline constexpr const char* LedOnFailed = "Error while turning on LEDs";
inline constexpr const char* LedIsOff = "LED off";
inline constexpr const char* LedOffFailed = "Error when LED goes off";
inline constexpr const char* RepeatReadFailed = "Error while reading the chip";
inline constexpr const char* LogFailed = "Error saving data";

// ---- Fixed: the error box ----
inline constexpr const char* SavingFailed = "Error saving parameters";
inline constexpr const char* BadNumber = "Bad number format";

// ---- Ours: texts the program adds, free to change ----
inline constexpr const char* SettingsTempFile = "ZV4815.INI.new";
// Windows: the folder a Start-menu entry names cannot be made or entered.
inline constexpr const char* FolderUnusable =
    "Chip Reader cannot keep its settings and logs in this folder: ";
inline constexpr const char* CannotType =
    "Chip codes cannot be typed here: no display to type into";
inline constexpr const char* TypingRefused = "Chip code not typed: the system refused the keys";
inline constexpr const char* TypingBrokenOff =
    "Chip code typing broke off part-way: check the reading where it was typed";
// The reader's line hung up: "Reader on COM" + port + ReaderLostEnd.
inline constexpr const char* ReaderLost = "Reader on COM";
inline constexpr const char* ReaderLostEnd = " lost: waiting for it to come back";
// Its adapter is back under a device name that no port number reaches:
// "Reader on COM" + port + ReaderUnreachable + device; on standard error,
// ReaderLinkHint + stable name + " COM" + port.
inline constexpr const char* ReaderUnreachable = " is back, but no port number reaches ";
inline constexpr const char* ReaderLinkHint =
    "To take the reader back, link its adapter's stable name as its port in the program's "
    "folder: ln -s ";
// Said once about typing: where the keys do not reach every program, or why
// nothing can be typed.
inline constexpr const char* X11Only = "Wayland session: typed chip codes reach X11 programs only";
inline constexpr const char* X11OnlyNoUinput =
    "Wayland session: chip codes reach X11 programs only (no /dev/uinput: sudo modprobe uinput)";
inline constexpr const char* X11OnlyNoAccess =
    "Wayland session: chip codes reach X11 programs only (no access to /dev/uinput: "
    "join the group chipreader)";
inline constexpr const char* NoUinput =
    "Chip codes cannot be typed here: no /dev/uinput (sudo modprobe uinput)";
inline constexpr const char* NoUinputAccess =
    "Chip codes cannot be typed here: no access to /dev/uinput (join the group chipreader)";
// On standard error with the two notices about access.
// On standard error when serial ports exist but this user may not open them
// (PortAccessDenied), on one line.
inline constexpr const char* PortAccessHint =
    "Serial ports exist but cannot be opened: add yourself to the dialout group "
    "(sudo adduser $USER dialout) and log in again";
inline constexpr const char* UinputAccessHint =
    "Typing on a Wayland desktop needs access to /dev/uinput, which lets a program type into "
    "every window. The chipreader package gives it to the members of the group chipreader: "
    "sudo adduser $USER chipreader, then log in again. Without the package, as root: "
    "addgroup --system chipreader, put this line into "
    "/etc/udev/rules.d/70-chipreader-uinput.rules:\n"
    "  KERNEL==\"uinput\", SUBSYSTEM==\"misc\", GROUP=\"chipreader\", MODE=\"0660\", "
    "OPTIONS+=\"static_node=uinput\"\n"
    "then run: udevadm control --reload && udevadm trigger /dev/uinput";
inline constexpr const char* NoKeymap =
    "Chip codes not typed: the desktop's keyboard layout could not be read";
inline constexpr const char* LayoutLacksKeys =
    "Chip code not typed: no key gives some of its characters in every keyboard layout";
inline constexpr const char* LockUnknown =
    "Chip code not typed: whether Caps Lock is on could not be read";
// Said at every reading it happens to: the window in front would drop the keys,
// or the operator held a key down for as long as the reading waited.
inline constexpr const char* KeyHeld = "Chip code not typed: a key is held down";
// The site's typing and readings (site.ini).
inline constexpr const char* CodeNotANumber =
    "Chip code not typed: it is no hexadecimal number, to be typed in decimal";
inline constexpr const char* SiteTypingRefused =
    "Chip code not typed: site.ini sets the typing but is refused";
inline constexpr const char* SameChipAgain = "Same chip again: not counted";
inline constexpr const char* TargetElevated =
    "Chip code not typed: the window in front runs as administrator";
inline constexpr const char* TargetRightsUnknown =
    "Chip code not typed: the window in front runs as administrator or as another user";

}  // namespace texts
