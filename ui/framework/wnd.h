#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "ui/framework/message_map.h"
#include "ui/framework/win_defs.h"

class QIcon;
class QWidget;
class CDataExchange;
class CMenu;
class DialogWindow;

// An icon resource; shared, never destroyed by its users.
using HICON = const QIcon*;

// The window object: owns the Qt window behind it, routes messages through
// the class's message table, and offers the services the dialogs use
// (data exchange, timers, message boxes, the system menu, icons).
class CWnd {
 public:
  CWnd();
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // Delivers a message synchronously through the message table.
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

  // The window's own system menu (never reset to the standard one).
  CMenu* GetSystemMenu(BOOL bRevert);

  HICON SetIcon(HICON hIcon, BOOL bBigIcon);
  HICON GetIcon(BOOL bBigIcon) const;

  QWidget* GetDlgItem(int id) const;
  DialogWindow* GetSafeHwnd() const { return m_hWnd; }

 protected:
  virtual const MessageMap* GetMessageMap() const;
  static const MessageMap messageMap;

  // Gives the window the standard system menu (its close command).
  void CreateSystemMenu();

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Default processing of the message now being handled.
  LRESULT Default();

  virtual void DoDataExchange(CDataExchange* pDX);

  void OnDestroy();

  DialogWindow* m_hWnd = nullptr;

 private:
  friend class DialogWindow;
  friend LRESULT message_map_detail::DefaultThunk(CWnd*, WPARAM, LPARAM);

  static const MessageEntry messageEntries[];

  const MessageEntry* FindEntry(UINT message, WPARAM wParam) const;
  void OnQtTimer(int qtTimerId);
  void StopAllTimers();

  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  CurrentMessage m_current{};
  std::map<UINT_PTR, int> m_timers;  // window timer id -> Qt timer id
  bool m_bInTimer = false;
  std::unique_ptr<CMenu> m_pSysMenu;
  HICON m_hBigIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
};
