#include "ui/framework/wnd.h"

#include "ui/framework/data_exchange.h"
#include "ui/framework/menu.h"
#include "ui/framework/message_box_hook.h"

const MessageEntry CWnd::messageEntries[] = {
    MapDestroy<&CWnd::OnDestroy>(),
};

const MessageMap CWnd::messageMap{nullptr, messageEntries};

LRESULT message_map_detail::DefaultThunk(CWnd* wnd, WPARAM, LPARAM) { return wnd->Default(); }

CWnd::CWnd() = default;

CWnd::~CWnd() = default;

const MessageMap* CWnd::GetMessageMap() const { return &messageMap; }

const MessageEntry* CWnd::FindEntry(UINT message, WPARAM wParam) const {
  for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
    for (const MessageEntry& entry : map->entries) {
      if (entry.message != message) continue;
      if (message == WM_COMMAND && (entry.id != LOWORD(wParam) || entry.code != HIWORD(wParam))) {
        continue;
      }
      return &entry;
    }
  }
  return nullptr;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // A tick that arrives while a tick is still being handled (its message box
  // or prompt runs a nested loop) is dropped: cycles never nest and ticks
  // never pile up behind a dialog.
  if (message == WM_TIMER && m_bInTimer) return 0;

  const CurrentMessage saved = m_current;
  m_current = {message, wParam, lParam};
  const bool timer = message == WM_TIMER;
  if (timer) m_bInTimer = true;

  LRESULT result = 0;
  if (const MessageEntry* entry = FindEntry(message, wParam)) {
    result = entry->thunk(this, wParam, lParam);
  } else {
    result = DefWindowProc(message, wParam, lParam);
  }

  if (timer) m_bInTimer = false;
  m_current = saved;
  return result;
}

LRESULT CWnd::Default() {
  return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  if (!m_hWnd) return FALSE;
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return dx.Failed() ? FALSE : TRUE;
}

void CWnd::OnDestroy() { StopAllTimers(); }

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, void*) {
  if (!m_hWnd) return 0;
  KillTimer(nIDEvent);
  const UINT_PTR platformId = StartPlatformTimer(nIDEvent, nElapse);
  if (platformId == 0) return 0;
  m_timers[nIDEvent] = platformId;
  return nIDEvent;
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
  const auto it = m_timers.find(nIDEvent);
  if (it == m_timers.end()) return FALSE;
  if (m_hWnd) StopPlatformTimer(it->first, it->second);
  m_timers.erase(it);
  return TRUE;
}

bool CWnd::IsTimerSet(UINT_PTR nIDEvent) const { return m_timers.count(nIDEvent) != 0; }

void CWnd::StopAllTimers() {
  while (!m_timers.empty()) KillTimer(m_timers.begin()->first);
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
  const std::string captionText = caption ? caption : "Error";
  if (const MessageBoxHook& hook = GetMessageBoxHook()) {
    return hook(MessageBoxCall{text ? text : "", captionText, type});
  }
  return ShowMessageBox(text ? text : "", captionText, type);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
  HICON& slot = bBigIcon ? m_hBigIcon : m_hSmallIcon;
  const HICON previous = slot;
  slot = hIcon;
  if (m_hWnd) ShowIcon(bBigIcon);
  return previous;
}
