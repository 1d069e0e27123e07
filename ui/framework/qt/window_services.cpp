// CWnd's services over the Qt window behind it.

#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>

#include "ui/framework/menu.h"
#include "ui/framework/qt/dialog_window.h"
#include "ui/framework/wnd.h"

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return WindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
    return SendMessage(WM_CLOSE);
  }
  return 0;
}

UINT_PTR CWnd::StartPlatformTimer(UINT_PTR, UINT nElapse) {
  // Precise timers: coarse ones may fire several per cent early.
  const int qtId = m_hWnd->startTimer(static_cast<int>(nElapse), Qt::PreciseTimer);
  return static_cast<UINT_PTR>(qtId);
}

void CWnd::StopPlatformTimer(UINT_PTR, UINT_PTR platformId) {
  m_hWnd->killTimer(static_cast<int>(platformId));
}

int CWnd::ShowMessageBox(const std::string& text, const std::string& caption, UINT type) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
      icon = QMessageBox::Critical;
      break;
    case MB_ICONEXCLAMATION:
      icon = QMessageBox::Warning;
      break;
    case MB_ICONINFORMATION:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok, m_hWnd);
  box.exec();
  return IDOK;
}

CMenu* CWnd::GetSystemMenu(BOOL) {
  if (!m_hWnd) return nullptr;
  return m_pSysMenu.get();
}

void CWnd::ShowIcon(BOOL) {
  // Qt keeps one icon per window with all its sizes; the big one wins when
  // both are set, the small one stands in while there is no big one.
  const HICON shown = m_hBigIcon ? m_hBigIcon : m_hSmallIcon;
  m_hWnd->setWindowIcon(shown ? *shown : QIcon());
}

QWidget* CWnd::GetDlgItem(int id) const { return m_hWnd ? m_hWnd->Control(id) : nullptr; }

bool CWnd::GetDlgItemText(int id, std::string& text) const {
  const auto* edit = qobject_cast<const QLineEdit*>(GetDlgItem(id));
  if (!edit) return false;
  text = edit->text().toStdString();
  return true;
}

void CWnd::SetDlgItemText(int id, const char* text) {
  if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id))) {
    edit->setText(QString::fromUtf8(text ? text : ""));
  }
}

std::string CWnd::GetWindowText() const {
  return m_hWnd ? m_hWnd->windowTitle().toStdString() : std::string();
}

void CWnd::GotoDlgCtrl(int id) {
  QWidget* control = GetDlgItem(id);
  if (!control) return;
  control->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}
