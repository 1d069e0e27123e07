#pragma once

#include "ui/framework/win_defs.h"

class CWnd;

// How a CWnd meets its platform window. The dialog manager creates the
// window and calls DialogProc; at WM_INITDIALOG the window is tied to its
// CWnd and subclassed, so from then on every message, sent or posted, runs
// through CWnd::WindowProc and its message table, and what no table takes
// goes to the dialog manager's own procedure (CWnd::DefWindowProc).
struct WindowBackend {
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  // The dialog manager's procedure the window had before it was subclassed.
  static LRESULT CallSuper(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};
