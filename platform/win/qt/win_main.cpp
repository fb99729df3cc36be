// main for a program with one CWinApp object.
#include "win/app.h"

int main(int argc, char** argv) { return win::RunApplication(argc, argv); }
