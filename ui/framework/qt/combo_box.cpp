#include "ui/framework/combo_box.h"

#include <QComboBox>

namespace {

// The full stored text lives in the item's data; the visible text has its
// line breaks removed.
constexpr int kStoredTextRole = Qt::UserRole;

QString Shown(const QString& text) {
  QString shown = text;
  shown.remove(QLatin1Char('\n')).remove(QLatin1Char('\r'));
  return shown;
}

}  // namespace

void CComboBox::Attach(QWidget* control) { m_pControl = qobject_cast<QComboBox*>(control); }

QComboBox* CComboBox::GetControl() const { return m_pControl; }

int CComboBox::AddString(const std::string& text) {
  if (!m_pControl) return CB_ERR;
  const QString stored = QString::fromStdString(text);
  int index = m_pControl->count();
  if (m_pControl->property("sorted").toBool()) {
    for (int i = 0; i < m_pControl->count(); ++i) {
      const QString other = m_pControl->itemData(i, kStoredTextRole).toString();
      if (stored.compare(other, Qt::CaseInsensitive) < 0) {
        index = i;
        break;
      }
    }
  }
  // Qt selects the first entry of an empty list; this list keeps whatever
  // selection it had (none after a rebuild).
  const int selection = m_pControl->currentIndex();
  m_pControl->insertItem(index, Shown(stored), stored);
  m_pControl->setCurrentIndex(selection < 0 ? -1
                                            : (selection >= index ? selection + 1 : selection));
  return index;
}

int CComboBox::DeleteString(int index) {
  if (!m_pControl || index < 0 || index >= m_pControl->count()) return CB_ERR;
  m_pControl->removeItem(index);
  return m_pControl->count();
}

int CComboBox::GetCount() const { return m_pControl ? m_pControl->count() : CB_ERR; }

int CComboBox::GetCurSel() const {
  return m_pControl && m_pControl->currentIndex() >= 0 ? m_pControl->currentIndex() : CB_ERR;
}

std::string CComboBox::GetLBText(int index) const {
  if (!m_pControl || index < 0 || index >= m_pControl->count()) return {};
  return m_pControl->itemData(index, kStoredTextRole).toString().toStdString();
}
