#include "ui/framework/resources.h"

#include <QIcon>
#include <QString>
#include <map>
#include <memory>

namespace {

std::map<UINT, std::string>& Strings() {
  static std::map<UINT, std::string> strings;
  return strings;
}

struct IconEntry {
  QString path;
  std::unique_ptr<QIcon> icon;  // loaded on first use
};

std::map<int, IconEntry>& Icons() {
  static std::map<int, IconEntry> icons;
  return icons;
}

}  // namespace

void SetStringResource(UINT id, std::string text) { Strings()[id] = std::move(text); }

void RemoveStringResource(UINT id) { Strings().erase(id); }

std::string LoadStringResource(UINT id) {
  const auto it = Strings().find(id);
  return it == Strings().end() ? std::string() : it->second;
}

void SetIconResource(int id, const QString& path) { Icons()[id] = IconEntry{path, nullptr}; }

HICON LoadIconResource(int id) {
  const auto it = Icons().find(id);
  if (it == Icons().end()) return nullptr;
  if (!it->second.icon) {
    auto icon = std::make_unique<QIcon>(it->second.path);
    if (icon->isNull()) return nullptr;
    it->second.icon = std::move(icon);
  }
  return it->second.icon.get();
}
