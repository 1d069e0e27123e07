#include "ui/about_dlg.h"

#include "ui/resource.h"

namespace {

constexpr std::uint32_t kLabel = SS_LEFT | WS_GROUP;

constexpr DlgItemTemplate kItems[] = {
    {IDC_STATIC, ControlKind::kIcon, nullptr, 11, 17, 20, 20, SS_ICON, IDR_MAINFRAME},
    {IDC_STATIC, ControlKind::kLabel, "ZLM Reader 1.0", 40, 10, 119, 8, kLabel | SS_NOPREFIX},
    {IDOK, ControlKind::kPushButton, "OK", 178, 7, 50, 14, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
    {IDC_STATIC, ControlKind::kLabel, "Чтение расходомера ZLM", 40, 25, 119, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "по линии RS-485, 9600 бит/с", 40, 42, 119, 8, kLabel},
    {IDC_STATIC, ControlKind::kLabel, "Поддержка: отдел сервиса", 40, 57, 119, 8, kLabel},
};

const DlgTemplate kAboutTemplate{
    "About ZLM Reader V1.0",
    0,
    0,
    235,
    81,
    "MS Sans Serif",
    8,
    DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    0,
    kItems,
};

}  // namespace

CAboutDlg::CAboutDlg(CWnd* pParent) : CDialog(kAboutTemplate, pParent) {}
