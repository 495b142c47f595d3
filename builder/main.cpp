// main.cpp - the crateforge program.
#include "builder/BuilderApp.h"
#include "builder/SignalExit.h"

int main(int argc, char** argv) {
    crateforge::CBuilderApp application;
    const int status = application.InitInstance(argc, argv);
    // Everything is cleaned up; a signal that ended the run ends it still.
    crateforge::SignalExit::ReraiseIfReceived();
    return status;
}
