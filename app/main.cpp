#include "app/app_resources.h"
#include "ui/framework/win_app.h"

// The program's resources are in place before the framework starts; the
// framework then runs the application object (theApp) and gives the exit
// code. Arguments are accepted and ignored.
int main(int argc, char** argv) {
  RegisterAppResources();
  return AfxWinMain(argc, argv);
}
