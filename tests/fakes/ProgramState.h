// The program-wide state, put back as a process has it when it starts, and a
// check that every test leaves it so.
#pragma once

namespace fakes {

// Closes the port and resets the variables of Global, Drv232 and MainWindow,
// the demo's random numbers, every platform override, the linked-ports
// switch and the folder of stable device names. Every fixture that touches
// any of them calls it first.
void ResetProgramState();

// InitGoogleTest, a listener that fails any test that ends with the port open
// or a platform override still installed, then `beforeRun` (a Qt test makes
// its application there: listing the tests needs none), then every test.
int RunAllTests(int& argc, char** argv, void (*beforeRun)(int&, char**) = nullptr);

}  // namespace fakes
