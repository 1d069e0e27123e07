#pragma once

#include <map>
#include <memory>
#include <string>

#include "ui/framework/message_map.h"
#include "ui/framework/win_defs.h"

class CDataExchange;
class CMenu;
struct WindowBackend;

// The window object: routes messages through the class's message table
// (wnd.cpp), and offers the services the dialogs use (data exchange,
// timers, message boxes, the system menu, icons), which each backend gives
// over its own window (qt/, win32/).
class CWnd {
 public:
  CWnd();
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // Delivers a message synchronously through the window's procedure and so
  // through the message table.
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // Runs DoDataExchange over the whole binding table: TRUE moves control
  // text into the members, FALSE the members into the controls. FALSE when
  // a text did not parse (the user has been told and the field focused).
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Timer messages for nIDEvent every nElapse ms; setting a running id
  // restarts it. No callbacks: ticks arrive as WM_TIMER. Returns 0 without a
  // window.
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, void* lpfnTimer = nullptr);
  BOOL KillTimer(UINT_PTR nIDEvent);
  bool IsTimerSet(UINT_PTR nIDEvent) const;

  // A modal box over this window; other messages keep being dispatched to
  // the window while it is open. Returns the button pressed (IDOK).
  int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

  // The window's system menu; nullptr without a window or without one.
  CMenu* GetSystemMenu(BOOL bRevert);

  HICON SetIcon(HICON hIcon, BOOL bBigIcon);

  ControlHandle GetDlgItem(int id) const;
  WindowHandle GetSafeHwnd() const { return m_hWnd; }

  // Control and window texts in UTF-8. GetDlgItemText is false when there
  // is no such control.
  bool GetDlgItemText(int id, std::string& text) const;
  void SetDlgItemText(int id, const char* text);
  std::string GetWindowText() const;
  // Gives control id the focus, its whole text selected if it is an edit.
  void GotoDlgCtrl(int id);

 protected:
  virtual const MessageMap* GetMessageMap() const;
  static const MessageMap messageMap;

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Default processing of the message now being handled.
  LRESULT Default();

  virtual void DoDataExchange(CDataExchange* pDX);

  void OnDestroy();

  WindowHandle m_hWnd = nullptr;

 private:
  friend class DialogWindow;
  friend struct WindowBackend;
  friend LRESULT message_map_detail::DefaultThunk(CWnd*, WPARAM, LPARAM);

  static const MessageEntry messageEntries[];

  const MessageEntry* FindEntry(UINT message, WPARAM wParam) const;
  void StopAllTimers();

  // The backend's halves of the services above.
  UINT_PTR StartPlatformTimer(UINT_PTR nIDEvent, UINT nElapse);
  void StopPlatformTimer(UINT_PTR nIDEvent, UINT_PTR platformId);
  int ShowMessageBox(const std::string& text, const std::string& caption, UINT type);
  // Gives the window the icon now set for that size.
  void ShowIcon(BOOL bBigIcon);

  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  CurrentMessage m_current{};
  // Window timer id -> the backend's own timer id.
  std::map<UINT_PTR, UINT_PTR> m_timers;
  bool m_bInTimer = false;
  std::unique_ptr<CMenu> m_pSysMenu;
  HICON m_hBigIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
};
