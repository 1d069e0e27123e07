#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Calls act with each new modal window shown while the watcher lives (a box
// or dialog run from inside a handler), and remembers the title of every one
// seen. Polling with a 1 ms Qt timer lets nested modal loops run it.
class ModalWatcher {
 public:
  explicit ModalWatcher(std::function<void(QWidget*)> act) : m_act(std::move(act)) {
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
    m_timer.start(1);
  }
  int Seen() const { return static_cast<int>(m_titles.size()); }
  const std::vector<std::string>& Titles() const { return m_titles; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == m_last) return;
    m_last = modal;
    m_titles.push_back(modal->windowTitle().toStdString());
    m_act(modal);
  }

  std::function<void(QWidget*)> m_act;
  QTimer m_timer;
  QWidget* m_last = nullptr;
  std::vector<std::string> m_titles;
};
