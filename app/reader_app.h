#pragma once

#include "ui/framework/win_app.h"

// The application: runs the main window modally and ends the program when
// it closes, whatever its result.
class CReaderApp : public CWinApp {
 public:
  CReaderApp();
  ~CReaderApp() override;

  BOOL InitInstance() override;

 protected:
  const AppCommandMap* GetMessageMap() const override;
  static const AppCommandMap messageMap;

 private:
  static const AppCommandEntry messageEntries[];
};

// The one application object of the program.
extern CReaderApp theApp;
