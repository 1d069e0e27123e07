#pragma once

#include <QDialog>
#include <map>

#include "ui/framework/dialog_template.h"

class CWnd;
class CDialog;

// The Qt window behind a CDialog: builds the controls of a template and
// turns Qt events into the messages the dialog's table expects, with the
// classic dialog keyboard (Tab order of the template, Enter presses the
// focused push button or else sends IDOK, Escape and the close button send
// IDCANCEL) and a system menu of its own, opened by Alt+Space from any
// control.
class DialogWindow : public QDialog {
 public:
  DialogWindow(CWnd* owner, const DlgTemplate& dialogTemplate, QWidget* parent);

  QWidget* Control(int id) const;
  // The first tab stop in template order, or nullptr.
  QWidget* FirstTabStop() const { return m_firstTabStop; }
  // Focus to give when the window is first shown.
  void SetPendingFocus(QWidget* widget) { m_pendingFocus = widget; }
  // Opens the system menu at a point of the window (global coordinates).
  void ShowSystemMenu(const QPoint& globalPos);
  // Ends the window without routing anything back to the owner.
  void Finish(int result);

  void accept() override;
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void BuildControls(const DlgTemplate& dialogTemplate);
  void SendCommand(int id, UINT code);

  CWnd* m_owner;
  std::map<int, QWidget*> m_controls;
  QWidget* m_firstTabStop = nullptr;
  QWidget* m_pendingFocus = nullptr;
  int m_defaultId = 0;
  bool m_finished = false;
};
