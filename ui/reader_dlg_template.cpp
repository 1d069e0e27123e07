#include "ui/reader_dlg_template.h"

#include "ui/resource.h"

namespace {

constexpr std::uint32_t kLabel = SS_LEFT | WS_GROUP;
constexpr std::uint32_t kAddressField = ES_CENTER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr std::uint32_t kReadingField = kAddressField | ES_READONLY;

// In tab order. The left column holds the port row, the port buttons, the
// address row and the reading buttons; the right column the seven readings
// in the order they are read.
constexpr DlgItemTemplate kItems[] = {
    {IDCANCEL, ControlKind::PushButton, "Отмена", 76, 33, 55, 14, WS_TABSTOP},
    {IDC_PORT_COMBO, ControlKind::ComboBox, nullptr, 60, 14, 71, 123,
     CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
    {IDC_STATIC, ControlKind::Label, "COM порт:", 17, 16, 36, 8, kLabel},
    {IDC_CLOSE_PORT, ControlKind::PushButton, "Закрыть порт", 15, 33, 55, 14, WS_TABSTOP},
    {IDC_ADDRESS, ControlKind::Edit, nullptr, 105, 56, 21, 12, kAddressField},
    {IDC_START_READING, ControlKind::PushButton, "Считать показания", 15, 74, 114, 16, WS_TABSTOP},
    {IDC_STATIC, ControlKind::Label, "Адрес ZLM (от 0 до 31, 255 для одного ZLM) : ", 22, 52, 79,
     17, kLabel},
    {IDC_STATIC, ControlKind::Label, "Объем, м3", 139, 18, 38, 8, kLabel},
    {IDC_STATIC, ControlKind::Label, "Объем, л", 139, 35, 32, 8, kLabel},
    {IDC_STATIC, ControlKind::Label, "Время, ч", 139, 52, 30, 8, kLabel},
    {IDC_STATIC, ControlKind::Label, "Расход, м3/ч", 139, 69, 45, 8, kLabel},
    {IDC_STATIC, ControlKind::Label, "Расход, л/мин", 139, 86, 50, 8, kLabel},
    {IDC_STATIC, ControlKind::Label, "Расход, %", 139, 103, 34, 8, kLabel},
    {IDC_STATIC, ControlKind::Label, "Ду, мм", 139, 120, 25, 8, kLabel},
    {IDC_VOLUME_M3, ControlKind::Edit, nullptr, 192, 15, 40, 14, kReadingField},
    {IDC_VOLUME_L, ControlKind::Edit, nullptr, 192, 32, 40, 14, kReadingField},
    {IDC_HOURS, ControlKind::Edit, nullptr, 192, 49, 40, 14, kReadingField},
    {IDC_FLOW_M3H, ControlKind::Edit, nullptr, 192, 66, 40, 14, kReadingField},
    {IDC_FLOW_LMIN, ControlKind::Edit, nullptr, 192, 83, 40, 14, kReadingField},
    {IDC_FLOW_PERCENT, ControlKind::Edit, nullptr, 192, 100, 40, 14, kReadingField},
    {IDC_NOMINAL_DIAMETER, ControlKind::Edit, nullptr, 192, 117, 40, 14, kReadingField},
    {IDC_STOP_READING, ControlKind::PushButton, "Остановить считывание", 15, 98, 114, 16,
     WS_TABSTOP},
};

}  // namespace

const DlgTemplate kReaderDialogTemplate{
    "ZLM Reader V1.0",
    0,
    0,
    244,
    143,
    "MS Sans Serif",
    8,
    DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU,
    WS_EX_APPWINDOW,
    kItems,
};
