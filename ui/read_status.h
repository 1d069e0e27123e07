#pragma once

#include <cstdint>

// ReadStatus: 0 when the window's last transaction succeeded, READ_FAILED
// when it failed. Shared by the whole process, 0 at start; the window's
// read handler sets it and its timer handler reads it.
inline constexpr int32_t READ_FAILED = 123;
extern int32_t g_nReadStatus;

// The caption of every message box the main window shows for a failure.
inline constexpr char kErrorCaption[] = "Error";
