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
    {IDCANCEL, ControlKind::kPushButton, "Отмена", 76, 33, 55, 14, WS_TABSTOP},
    {IDC_PORT_COMBO, ControlKind::kComboBox, nullptr, 60, 14, 71, 123,
     CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP},
    {IDC_STATIC, ControlKind::kLabel, "COM порт:", 17, 16, 36, 8, kLabel},
    {IDC_CLOSE_PORT, ControlKind::kPushButton, "Закрыть порт", 15, 33, 55, 14, WS_TABSTOP},
    {IDC_ADDRESS, ControlKind::kEdit, nullptr, 105, 56, 21, 12, kAddressField},
    {IDC_START_READING, ControlKind::kPushButton, "Считать показания", 15, 74, 114, 16, WS_TABSTOP},
    {IDC_STATIC, ControlKind::kLabel, "Адрес ZLM (от 0 до 31, 255 для одного ZLM) : ", 22, 52, 79,
     17, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Объем, м3", 139, 18, 38, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Объем, л", 139, 35, 32, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Время, ч", 139, 52, 30, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Расход, м3/ч", 139, 69, 45, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Расход, л/мин", 139, 86, 50, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Расход, %", 139, 103, 34, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Ду, мм", 139, 120, 25, 8, kLabel},
    {IDC_VOLUME_M3, ControlKind::kEdit, nullptr, 192, 15, 40, 14, kReadingField},
    {IDC_VOLUME_L, ControlKind::kEdit, nullptr, 192, 32, 40, 14, kReadingField},
    {IDC_HOURS, ControlKind::kEdit, nullptr, 192, 49, 40, 14, kReadingField},
    {IDC_FLOW_M3H, ControlKind::kEdit, nullptr, 192, 66, 40, 14, kReadingField},
    {IDC_FLOW_LMIN, ControlKind::kEdit, nullptr, 192, 83, 40, 14, kReadingField},
    {IDC_FLOW_PERCENT, ControlKind::kEdit, nullptr, 192, 100, 40, 14, kReadingField},
    {IDC_NOMINAL_DIAMETER, ControlKind::kEdit, nullptr, 192, 117, 40, 14, kReadingField},
    {IDC_STOP_READING, ControlKind::kPushButton, "Остановить считывание", 15, 98, 114, 16,
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
