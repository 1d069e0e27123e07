#include "ui/framework/data_exchange.h"

#include <QComboBox>
#include <QLineEdit>

#include "ui/framework/combo_box.h"
#include "ui/framework/dialog_window.h"
#include "ui/framework/number_text.h"
#include "ui/framework/wnd.h"

namespace {

constexpr char kPromptInt[] = "Введите целое число.";
constexpr char kPromptDouble[] = "Введите число.";

QLineEdit* EditOf(CDataExchange* pDX, int nIDC) {
  return qobject_cast<QLineEdit*>(pDX->PrepareCtrl(nIDC));
}

template <typename T, typename Parse, typename Format>
void ExchangeNumber(CDataExchange* pDX, int nIDC, T& value, Parse parse, Format format,
                    const char* prompt) {
  if (pDX->Failed()) return;
  QLineEdit* edit = EditOf(pDX, nIDC);
  if (!edit) return;
  if (pDX->m_bSaveAndValidate) {
    const auto parsed = parse(edit->text().toStdString());
    if (!parsed) {
      pDX->Fail(nIDC, prompt);
      return;
    }
    value = *parsed;
  } else {
    edit->setText(QString::fromStdString(format(value)));
  }
}

}  // namespace

QWidget* CDataExchange::PrepareCtrl(int nIDC) const { return m_pDlgWnd->GetDlgItem(nIDC); }

void CDataExchange::Fail(int nIDC, const char* prompt) {
  m_bFailed = true;
  QWidget* control = PrepareCtrl(nIDC);
  const DialogWindow* window = m_pDlgWnd->GetSafeHwnd();
  const std::string caption = window ? window->windowTitle().toStdString() : std::string();
  m_pDlgWnd->MessageBox(prompt, caption.c_str(), MB_ICONEXCLAMATION);
  if (control) {
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
  }
}

void DDX_Control(CDataExchange* pDX, int nIDC, CComboBox& rControl) {
  if (pDX->Failed() || rControl.GetControl()) return;
  rControl.Attach(qobject_cast<QComboBox*>(pDX->PrepareCtrl(nIDC)));
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
  ExchangeNumber(pDX, nIDC, value, ParseInt, FormatInt, kPromptInt);
}

void DDX_Text(CDataExchange* pDX, int nIDC, double& value) {
  ExchangeNumber(pDX, nIDC, value, ParseDouble, FormatDouble, kPromptDouble);
}
