// main.cpp - the crateforge program.
#include "builder/BuilderApp.h"

int main(int argc, char** argv) {
    crateforge::CBuilderApp application;
    return application.InitInstance(argc, argv);
}
