#include "ui/framework/data_exchange.h"

#include <string>

#include "platform/number_text.h"
#include "ui/framework/combo_box.h"
#include "ui/framework/wnd.h"

namespace {

constexpr char kPromptInt[] = "Введите целое число.";
constexpr char kPromptDouble[] = "Введите число.";

template <typename T, typename Parse, typename Format>
void ExchangeNumber(CDataExchange* pDX, int nIDC, T& value, Parse parse, Format format,
                    const char* prompt) {
  if (pDX->Failed()) return;
  if (pDX->m_bSaveAndValidate) {
    std::string text;
    if (!pDX->m_pDlgWnd->GetDlgItemText(nIDC, text)) return;
    const auto parsed = parse(text);
    if (!parsed) {
      pDX->Fail(nIDC, prompt);
      return;
    }
    value = *parsed;
  } else {
    pDX->m_pDlgWnd->SetDlgItemText(nIDC, format(value).c_str());
  }
}

}  // namespace

ControlHandle CDataExchange::PrepareCtrl(int nIDC) const { return m_pDlgWnd->GetDlgItem(nIDC); }

void CDataExchange::Fail(int nIDC, const char* prompt) {
  m_bFailed = true;
  const std::string caption = m_pDlgWnd->GetWindowText();
  m_pDlgWnd->MessageBox(prompt, caption.c_str(), MB_ICONEXCLAMATION);
  m_pDlgWnd->GotoDlgCtrl(nIDC);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CComboBox& rControl) {
  if (pDX->Failed() || rControl.GetControl()) return;
  rControl.Attach(pDX->PrepareCtrl(nIDC));
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
  ExchangeNumber(pDX, nIDC, value, ParseInt, FormatInt, kPromptInt);
}

void DDX_Text(CDataExchange* pDX, int nIDC, double& value) {
  ExchangeNumber(pDX, nIDC, value, ParseDouble, FormatDouble, kPromptDouble);
}
