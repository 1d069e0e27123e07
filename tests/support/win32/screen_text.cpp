#include "tests/support/win32/screen_text.h"

#include "platform/windows_api.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), length, nullptr, nullptr);
  return out;
}

// The text through a message that gives up after a moment: the window's
// thread may be the one that hangs.
std::string TextOf(HWND hWnd) {
  wchar_t text[512] = {};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, 500, &copied)) {
    return "(no answer)";
  }
  return Utf8(text);
}

std::string ClassOf(HWND hWnd) {
  wchar_t name[128] = {};
  GetClassNameW(hWnd, name, 128);
  return Utf8(name);
}

BOOL CALLBACK AddChild(HWND hWnd, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  if (!IsWindowVisible(hWnd)) return TRUE;
  const std::string text = TextOf(hWnd);
  if (text.empty()) return TRUE;
  *out +=
      "    " + ClassOf(hWnd) + " " + std::to_string(GetDlgCtrlID(hWnd)) + ": \"" + text + "\"\n";
  return TRUE;
}

BOOL CALLBACK AddTopLevel(HWND hWnd, LPARAM lParam) {
  auto* out = reinterpret_cast<std::string*>(lParam);
  if (!IsWindowVisible(hWnd)) return TRUE;
  *out += "  window " + ClassOf(hWnd) + ": \"" + TextOf(hWnd) + "\"" +
          (hWnd == GetForegroundWindow() ? " (active)" : "") + "\n";
  EnumChildWindows(hWnd, AddChild, lParam);
  return TRUE;
}

}  // namespace

std::string DescribeScreen() {
  std::string out;
  EnumWindows(AddTopLevel, reinterpret_cast<LPARAM>(&out));
  return out.empty() ? "  (no visible window)\n" : out;
}
