// The Qt tests run inside one application object, made only when tests run:
// listing them needs no display.
#include <QApplication>
#include <memory>

#include "fakes/ProgramState.h"

namespace {
std::unique_ptr<QApplication> app;
}

int main(int argc, char** argv) {
    const int result = fakes::RunAllTests(
        argc, argv, [](int& c, char** v) { app = std::make_unique<QApplication>(c, v); });
    // Gone before the program's static objects, Qt's own among them.
    app.reset();
    return result;
}
