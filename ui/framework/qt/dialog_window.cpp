#include "ui/framework/qt/dialog_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/framework/menu.h"
#include "ui/framework/qt/template_font.h"
#include "ui/framework/resources.h"
#include "ui/framework/wnd.h"

namespace {

// The size of a dialog's icon (the platform's large icon).
constexpr QSize kIconSize(32, 32);

QWidget* MakeControl(const DlgItemTemplate& item, QWidget* parent) {
  const QString text = QString::fromUtf8(item.text ? item.text : "");
  switch (item.kind) {
    case ControlKind::kPushButton: {
      auto* button = new QPushButton(text, parent);
      // Only a template's own default button reacts to Enter from elsewhere.
      button->setAutoDefault(false);
      button->setDefault((item.style & BS_DEFPUSHBUTTON) != 0);
      return button;
    }
    case ControlKind::kComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(false);
      combo->setProperty("sorted", (item.style & CBS_SORT) != 0);
      return combo;
    }
    case ControlKind::kLabel: {
      auto* label = new QLabel(text, parent);
      label->setWordWrap(true);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case ControlKind::kIcon: {
      auto* label = new QLabel(parent);
      if (HICON icon = LoadIconResource(item.iconId)) {
        label->setPixmap(icon->pixmap(kIconSize));
      }
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      return label;
    }
    case ControlKind::kEdit: {
      auto* edit = new QLineEdit(parent);
      if (item.style & ES_CENTER) edit->setAlignment(Qt::AlignCenter);
      edit->setReadOnly((item.style & ES_READONLY) != 0);
      edit->setFrame((item.style & WS_BORDER) != 0);
      return edit;
    }
  }
  return nullptr;
}

bool IsAltSpace(const QKeyEvent* event) {
  return event->key() == Qt::Key_Space &&
         (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier;
}

bool IsSystemMenuKey(const QKeyEvent* event) {
  const auto mods = event->modifiers() & ~Qt::KeypadModifier;
  return IsAltSpace(event) || (event->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
         (event->key() == Qt::Key_F10 && mods == Qt::ShiftModifier);
}

}  // namespace

DialogWindow::DialogWindow(CWnd* owner, const DlgTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), m_owner(owner) {
  setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (dialogTemplate.style & WS_SYSMENU)
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  setFont(TemplateFont(dialogTemplate.fontFace, dialogTemplate.pointSize));
  BuildControls(dialogTemplate);
  if (dialogTemplate.style & WS_SYSMENU) {
    // A system menu of our own holding the standard close command.
    m_owner->m_pSysMenu = std::make_unique<CMenu>();
    m_owner->m_pSysMenu->AppendMenu(MF_STRING, SC_CLOSE, "&Закрыть\tAlt+F4");
  }
}

void DialogWindow::BuildControls(const DlgTemplate& dialogTemplate) {
  const DialogBaseUnits units = BaseUnitsOf(font());
  const QRect frame =
      ToQRect(DialogUnitsToPixels(units, 0, 0, dialogTemplate.cx, dialogTemplate.cy));
  setFixedSize(frame.size());

  // Children are created in template order, which is also Qt's tab order.
  for (const DlgItemTemplate& item : dialogTemplate.items) {
    QWidget* control = MakeControl(item, this);
    if (!control) continue;
    QRect rect = ToQRect(DialogUnitsToPixels(units, item.x, item.y, item.cx, item.cy));
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
      // The template height includes the dropped-down list; the closed
      // control is one text line high.
      const int closed = std::max(combo->sizeHint().height(), MulDivRounded(12, units.y, 8));
      const int lines =
          std::max(1, (rect.height() - closed) / std::max(1, combo->fontMetrics().height()));
      combo->setMaxVisibleItems(lines);
      rect.setHeight(closed);
    } else if (item.kind == ControlKind::kIcon) {
      // An icon control takes the size of its icon at the template's
      // corner: the template's own size would cut the image off.
      rect.setSize(kIconSize);
    }
    control->setGeometry(rect);
    const bool tabStop = (item.style & WS_TABSTOP) != 0;
    if (item.kind == ControlKind::kLabel || item.kind == ControlKind::kIcon) {
      control->setFocusPolicy(Qt::NoFocus);
    } else {
      control->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
    }
    if (tabStop && !m_firstTabStop) m_firstTabStop = control;
    if (item.kind == ControlKind::kPushButton && (item.style & BS_DEFPUSHBUTTON)) {
      m_defaultId = item.id;
    }

    control->installEventFilter(this);

    const int id = item.id;
    if (auto* button = qobject_cast<QPushButton*>(control)) {
      connect(button, &QPushButton::clicked, this, [this, id] { SendCommand(id, BN_CLICKED); });
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
      // activated: the user chose an entry (mouse or keys), not a change
      // made by the program.
      connect(combo, &QComboBox::activated, this, [this, id] { SendCommand(id, CBN_SELCHANGE); });
    }
    if (id != IDC_STATIC) m_controls[id] = control;
  }
}

QWidget* DialogWindow::Control(int id) const {
  const auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

void DialogWindow::SendCommand(int id, UINT code) {
  m_owner->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), code));
}

void DialogWindow::Finish(int result) {
  m_finished = true;
  done(result);
}

void DialogWindow::accept() { SendCommand(IDOK, BN_CLICKED); }

void DialogWindow::reject() { SendCommand(IDCANCEL, BN_CLICKED); }

void DialogWindow::ShowSystemMenu(const QPoint& globalPos) {
  CMenu* menu = m_owner->GetSystemMenu(FALSE);
  if (!menu) return;
  if (const UINT id = menu->TrackPopupMenu(this, globalPos)) {
    m_owner->SendMessage(WM_SYSCOMMAND, id);
  }
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
  if (IsSystemMenuKey(event)) {
    ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
    return;
  }
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      if (event->modifiers() & ~Qt::KeypadModifier) break;
      QWidget* focus = focusWidget();
      if (auto* button = qobject_cast<QPushButton*>(focus)) {
        button->click();
      } else {
        SendCommand(m_defaultId ? m_defaultId : IDOK, BN_CLICKED);
      }
      return;
    }
    case Qt::Key_Escape:
      if (event->modifiers() != Qt::NoModifier) break;
      SendCommand(IDCANCEL, BN_CLICKED);
      return;
    default:
      break;
  }
  QDialog::keyPressEvent(event);
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
  // Alt+Space belongs to the window whichever control has the focus: the
  // control must not take it as Space (a button would be pressed, an edit
  // would type a blank over its selection).
  if (event->type() == QEvent::KeyPress && IsAltSpace(static_cast<QKeyEvent*>(event))) {
    ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
  if (m_finished) {
    event->accept();
    return;
  }
  // The close button is the close command of the system menu.
  event->ignore();
  m_owner->SendMessage(WM_SYSCOMMAND, SC_CLOSE);
}

void DialogWindow::paintEvent(QPaintEvent*) { m_owner->SendMessage(WM_PAINT); }

void DialogWindow::timerEvent(QTimerEvent* event) {
  for (const auto& [id, qtId] : m_owner->m_timers) {
    if (qtId == static_cast<UINT_PTR>(event->timerId())) {
      m_owner->SendMessage(WM_TIMER, id);
      return;
    }
  }
}

void DialogWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_pendingFocus) {
    m_pendingFocus->setFocus(Qt::TabFocusReason);
    m_pendingFocus = nullptr;
  }
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  // Reached only from the dialog's free area: controls handle their own.
  ShowSystemMenu(event->globalPos());
}
