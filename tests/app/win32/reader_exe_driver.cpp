// Drives zlm-reader.exe from outside, as a user would but through window
// messages: picks a port, types an address, starts reading and reports what
// the window shows. Used by the end-to-end test and the screenshots.
//
// Usage: reader_exe_driver PROGRAM COMn ADDRESS [--cycles N] [--hold MS] [--about]
//   Prints "field <id> <text>" for the seven readings after N cycles, or
//   "box <caption>|<text>" when a message box opens instead; with --about
//   also "about <icon width>x<icon height>". --hold keeps each state on the
//   screen that long (after "state values" and "state about") for a picture.
//   Ends the program with its close command and exits 0 when it ended.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/windows_api.h"
#include "ui/resource.h"

namespace {

constexpr wchar_t kMainCaption[] = L"ZLM Reader V1.0";
constexpr wchar_t kAboutCaption[] = L"About ZLM Reader V1.0";
constexpr int kReadings[] = {IDC_VOLUME_M3, IDC_VOLUME_L,     IDC_HOURS,           IDC_FLOW_M3H,
                             IDC_FLOW_LMIN, IDC_FLOW_PERCENT, IDC_NOMINAL_DIAMETER};
// The text control of a message box.
constexpr int kMessageBoxText = 0xFFFF;

std::string Utf8(const std::wstring& text) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), length, nullptr, nullptr);
  return out;
}

std::wstring TextOf(HWND hWnd) {
  wchar_t text[512] = {};
  SendMessageW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return text;
}

void Say(const std::string& line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "driver: %s\n", why.c_str());
  std::exit(1);
}

HWND WaitForWindow(const wchar_t* caption, int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (const HWND hWnd = FindWindowW(L"#32770", caption)) return hWnd;
    Sleep(50);
  }
  return nullptr;
}

// A message box owned by the main window, if one is open.
HWND OpenBox(HWND main) {
  HWND found = nullptr;
  struct Search {
    HWND main;
    HWND* found;
  } search{main, &found};
  EnumWindows(
      [](HWND hWnd, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        if (hWnd != s->main && GetWindow(hWnd, GW_OWNER) == s->main && IsWindowVisible(hWnd) &&
            GetDlgItem(hWnd, kMessageBoxText)) {
          *s->found = hWnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4)
    Fail("usage: reader_exe_driver PROGRAM COMn ADDRESS [--cycles N] [--hold MS] [--about]");
  const std::wstring program(argv[1], argv[1] + std::strlen(argv[1]));
  const std::wstring port(argv[2], argv[2] + std::strlen(argv[2]));
  const std::wstring address(argv[3], argv[3] + std::strlen(argv[3]));
  int cycles = 1;
  int holdMs = 0;
  bool about = false;
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--cycles" && i + 1 < argc) {
      cycles = std::atoi(argv[++i]);
    } else if (option == "--hold" && i + 1 < argc) {
      holdMs = std::atoi(argv[++i]);
    } else if (option == "--about") {
      about = true;
    } else {
      Fail("unknown option " + option);
    }
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    Fail("cannot start the program");
  }
  const HWND main = WaitForWindow(kMainCaption, 30000);
  if (!main) Fail("the main window did not appear");

  const HWND combo = GetDlgItem(main, IDC_PORT_COMBO);
  const LRESULT index = SendMessageW(combo, CB_FINDSTRING, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(port.c_str()));
  if (index == CB_ERR) Fail("the port is not listed");
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_PORT_COMBO, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  SendMessageW(GetDlgItem(main, IDC_ADDRESS), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(address.c_str()));
  PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_START_READING, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_START_READING)));

  // A cycle starts two seconds after the start and takes under half a second.
  const DWORD until = GetTickCount() + static_cast<DWORD>(cycles) * 2000 + 1500;
  HWND box = nullptr;
  while (GetTickCount() < until && !(box = OpenBox(main))) Sleep(50);
  if (box) {
    Say("box " + Utf8(TextOf(box)) + "|" + Utf8(TextOf(GetDlgItem(box, kMessageBoxText))));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    Sleep(200);
  } else {
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_STOP_READING, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_STOP_READING)));
    Sleep(100);
    for (const int id : kReadings) {
      Say("field " + std::to_string(id) + " " + Utf8(TextOf(GetDlgItem(main, id))));
    }
  }
  if (holdMs > 0) {
    Say("state values");
    Sleep(static_cast<DWORD>(holdMs));
  }

  if (about) {
    PostMessageW(main, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    const HWND aboutBox = WaitForWindow(kAboutCaption, 5000);
    if (!aboutBox) Fail("the About box did not open");
    for (HWND child = GetWindow(aboutBox, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        RECT r;
        GetClientRect(child, &r);
        Say("about " + std::to_string(r.right) + "x" + std::to_string(r.bottom));
      }
    }
    if (holdMs > 0) {
      Say("state about");
      Sleep(static_cast<DWORD>(holdMs));
    }
    PostMessageW(aboutBox, WM_COMMAND, IDOK, 0);
    Sleep(200);
  }

  PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    Fail("the program did not end on its close command");
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  Say("exit " + std::to_string(code));
  return 0;
}
