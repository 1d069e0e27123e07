// Strings and icons from the program file's own resources.

#include "ui/framework/resources.h"

#include <map>
#include <string>

#include "ui/framework/win32/icons.h"
#include "ui/framework/win32/utf16.h"

namespace {

struct IconImages {
  HICON big;
  HICON small;
};

// Loaded once and shared (LR_SHARED): never destroyed by their users.
std::map<int, IconImages>& Icons() {
  static std::map<int, IconImages> icons;
  return icons;
}

HICON LoadIconImage(int id, int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       size, size, LR_SHARED));
}

}  // namespace

std::string LoadStringResource(UINT id) {
  const wchar_t* text = nullptr;
  // Length 0 asks for a pointer into the resource itself.
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return Narrow(std::wstring_view(text, static_cast<std::size_t>(length)));
}

HICON LoadIconResource(int id) {
  auto it = Icons().find(id);
  if (it == Icons().end()) {
    const HICON big = LoadIconImage(id, GetSystemMetrics(SM_CXICON));
    if (!big) return nullptr;
    const HICON small = LoadIconImage(id, GetSystemMetrics(SM_CXSMICON));
    it = Icons().emplace(id, IconImages{big, small ? small : big}).first;
  }
  return it->second.big;
}

HICON SmallImageOf(HICON icon) {
  for (const auto& [id, images] : Icons()) {
    if (images.big == icon) return images.small;
  }
  return icon;
}
