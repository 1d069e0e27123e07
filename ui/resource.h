#pragma once

// Resource and control ids of the program.

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr unsigned IDS_ABOUTBOX = 101;
inline constexpr int IDD_READER_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;

inline constexpr int IDC_PORT_COMBO = 1000;
inline constexpr int IDC_CLOSE_PORT = 1005;
inline constexpr int IDC_START_READING = 1015;
inline constexpr int IDC_ADDRESS = 1016;
inline constexpr int IDC_STOP_READING = 1017;
inline constexpr int IDC_VOLUME_M3 = 1019;
inline constexpr int IDC_VOLUME_L = 1020;
inline constexpr int IDC_HOURS = 1021;
inline constexpr int IDC_FLOW_M3H = 1022;
inline constexpr int IDC_FLOW_LMIN = 1023;
inline constexpr int IDC_FLOW_PERCENT = 1024;
inline constexpr int IDC_NOMINAL_DIAMETER = 1025;

// System command of the About entry; its low four bits are zero as system
// command ids require.
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
