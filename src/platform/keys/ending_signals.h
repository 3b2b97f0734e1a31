// Keys a program types through the system (XTest's, a uinput device's) are
// the system's to undo once the program has gone, and it undoes them only in
// part: the X server keeps an XTest key down, and no one puts back a Caps
// Lock that a reading took off. So a signal that ends the program (SIGTERM,
// SIGINT, SIGHUP) while a keyboard may have keys down or a lock off ends it
// only once the keyboard has put everything back.
#pragma once

namespace platform {

// Keys may go down, or a lock come off, from now on (a keyboard's begin());
// an ending signal that came first ends the program here, before any does.
// The first call catches the ending signals; one that is ignored (a program
// started with nohup) stays ignored.
void KeysMayGoDown();

// Every key is up and every lock back (the end of a keyboard's end()): an
// ending signal that came meanwhile ends the program here.
void KeysAreUp();

}  // namespace platform
