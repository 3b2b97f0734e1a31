// The entry of the test programs that need no window system.
#include "fakes/ProgramState.h"

int main(int argc, char** argv) {
    return fakes::RunAllTests(argc, argv);
}
