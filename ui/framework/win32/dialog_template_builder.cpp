#include "ui/framework/win32/dialog_template_builder.h"

#include <string>

#include "ui/framework/win32/utf16.h"

namespace {

// Ordinals of the predefined control classes inside a template.
std::uint16_t ClassOrdinal(ControlKind kind) {
  switch (kind) {
    case ControlKind::kPushButton:
      return 0x0080;
    case ControlKind::kEdit:
      return 0x0081;
    case ControlKind::kLabel:
    case ControlKind::kIcon:
      return 0x0082;
    case ControlKind::kComboBox:
      return 0x0085;
  }
  return 0x0082;
}

class TemplateWriter {
 public:
  void Word(std::uint16_t value) { m_words.push_back(value); }
  void Dword(std::uint32_t value) {
    Word(static_cast<std::uint16_t>(value & 0xFFFF));
    Word(static_cast<std::uint16_t>(value >> 16));
  }
  void Short(int value) { Word(static_cast<std::uint16_t>(static_cast<std::int16_t>(value))); }
  void Text(const char* utf8) {
    for (const wchar_t c : Widen(utf8 ? utf8 : "")) Word(static_cast<std::uint16_t>(c));
    Word(0);
  }
  void Ordinal(std::uint16_t value) {
    Word(0xFFFF);
    Word(value);
  }
  // Each control record starts on a 32-bit boundary.
  void AlignDword() {
    if (m_words.size() % 2 != 0) Word(0);
  }
  std::vector<std::uint16_t> Take() { return std::move(m_words); }

 private:
  std::vector<std::uint16_t> m_words;
};

constexpr std::uint16_t kFontWeightNormal = 400;
constexpr std::uint8_t kDefaultCharset = 1;

}  // namespace

std::vector<std::uint16_t> BuildDialogTemplate(const DlgTemplate& t) {
  TemplateWriter w;
  w.Word(1);       // dlgVer
  w.Word(0xFFFF);  // signature: the extended form
  w.Dword(0);      // helpID
  w.Dword(t.exStyle);
  w.Dword(t.style);
  w.Word(static_cast<std::uint16_t>(t.items.size()));
  w.Short(t.x);
  w.Short(t.y);
  w.Short(t.cx);
  w.Short(t.cy);
  w.Word(0);  // no menu
  w.Word(0);  // the dialog manager's own window class
  w.Text(t.caption);
  if (t.style & DS_SETFONT) {
    w.Word(static_cast<std::uint16_t>(t.pointSize));
    w.Word(kFontWeightNormal);
    w.Word(kDefaultCharset << 8);  // italic 0, then the character set
    w.Text(t.fontFace);
  }
  for (const DlgItemTemplate& item : t.items) {
    w.AlignDword();
    w.Dword(0);  // helpID
    w.Dword(0);  // exStyle
    w.Dword(WS_CHILD | WS_VISIBLE | item.style);
    w.Short(item.x);
    w.Short(item.y);
    w.Short(item.cx);
    w.Short(item.cy);
    w.Dword(static_cast<std::uint32_t>(item.id));
    w.Ordinal(ClassOrdinal(item.kind));
    if (item.kind == ControlKind::kIcon) {
      // The icon resource of the module that runs the dialog.
      w.Ordinal(static_cast<std::uint16_t>(item.iconId));
    } else {
      w.Text(item.text);
    }
    w.Word(0);  // no creation data
  }
  return w.Take();
}
