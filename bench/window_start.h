#pragma once

#include "serial/com_port_map.h"

// Start of the main window offscreen, over the Linux serial line.
struct WindowStart {
  double createMs = -1;      // construction and Create(): template, init, port scan
  double firstPaintMs = -1;  // from construction to the first paint of the window
};

// Needs a QApplication. Builds, shows and destroys one CReaderDlg.
WindowStart MeasureWindowStart(const PortRoots& roots);
