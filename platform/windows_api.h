#pragma once

// The one way our code takes in the Windows headers.
//
// Rule: no file of ours includes <windows.h> (or any header that pulls it
// in) directly; it includes this header, and only where it needs the
// platform: the serial header's types, the Windows implementations. What
// this header guarantees to the rest of the tree:
//  - WIN32_LEAN_AND_MEAN and NOMINMAX: no min/max macros, none of the
//    rarely used headers;
//  - the platform's A/W name macros that are also names of ours are
//    removed here, so they never rename a method or function of ours. Our
//    code calls the wide-character functions by their full names
//    (CreateFileW, MessageBoxW ...). A new clash is fixed by adding its
//    #undef below, never by renaming ours.
// The platform's types and codes (HANDLE, DWORD, BYTE, DCB, COMMTIMEOUTS,
// NOPARITY ...) are used as they are; nothing of ours redefines them.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef AppendMenu
#undef BuildCommDCB
#undef CreateFile
#undef CreateWindow
#undef DefWindowProc
#undef GetDlgItemText
#undef GetMenuString
#undef GetMessage
#undef GetWindowText
#undef MessageBox
#undef SendMessage
#undef SetDlgItemText
