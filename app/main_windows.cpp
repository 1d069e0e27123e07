#include "ui/framework/win_app.h"

// The program's resources lie in the program file (zlm-reader.rc); the
// framework runs the application object (theApp) and gives the exit code.
// Arguments are accepted and ignored.
int main(int argc, char** argv) { return AfxWinMain(argc, argv); }
