#pragma once

#include <span>
#include <type_traits>

#include "ui/framework/win_defs.h"

class CWnd;

// A class's message table: a static list binding a window message, or a
// WM_COMMAND notification from one control, to a member handler. Lookup walks
// from the most derived table to its bases; what no table binds gets the
// window's default processing.

using MessageThunk = LRESULT (*)(CWnd* wnd, WPARAM wParam, LPARAM lParam);

struct MessageEntry {
  UINT message;
  UINT code;  // WM_COMMAND only: notification code
  UINT id;    // WM_COMMAND only: control or command id
  MessageThunk thunk;
};

struct MessageMap {
  const MessageMap* base;
  std::span<const MessageEntry> entries;
};

namespace message_map_detail {

template <typename F>
struct MemberOf;
template <typename C, typename R, typename... A>
struct MemberOf<R (C::*)(A...)> {
  using Class = C;
};

template <auto F>
using ClassOf = typename MemberOf<decltype(F)>::Class;

template <auto F>
ClassOf<F>* Target(CWnd* wnd) {
  return static_cast<ClassOf<F>*>(wnd);
}

LRESULT DefaultThunk(CWnd* wnd, WPARAM wParam, LPARAM lParam);

}  // namespace message_map_detail

// void OnX() for BN_CLICKED / CBN_SELCHANGE from one control, or a command id.
template <auto F>
constexpr MessageEntry MapCommand(UINT code, UINT id) {
  return {WM_COMMAND, code, id, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
            (message_map_detail::Target<F>(w)->*F)();
            return 0;
          }};
}
template <auto F>
constexpr MessageEntry MapClicked(UINT id) {
  return MapCommand<F>(BN_CLICKED, id);
}
template <auto F>
constexpr MessageEntry MapSelChange(UINT id) {
  return MapCommand<F>(CBN_SELCHANGE, id);
}

// void OnSysCommand(UINT nID, LPARAM lParam)
template <auto F>
constexpr MessageEntry MapSysCommand() {
  return {WM_SYSCOMMAND, 0, 0, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {
            (message_map_detail::Target<F>(w)->*F)(static_cast<UINT>(wp), lp);
            return 0;
          }};
}

// void OnTimer(UINT_PTR nIDEvent)
template <auto F>
constexpr MessageEntry MapTimer() {
  return {WM_TIMER, 0, 0, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {
            (message_map_detail::Target<F>(w)->*F)(static_cast<UINT_PTR>(wp));
            return 0;
          }};
}

// void OnX() for a message without parameters (WM_PAINT, WM_DESTROY, ...).
template <auto F>
constexpr MessageEntry MapMessage(UINT message) {
  return {message, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
            (message_map_detail::Target<F>(w)->*F)();
            return 0;
          }};
}
template <auto F>
constexpr MessageEntry MapPaint() {
  return MapMessage<F>(WM_PAINT);
}
template <auto F>
constexpr MessageEntry MapDestroy() {
  return MapMessage<F>(WM_DESTROY);
}

// HICON OnQueryDragIcon()
template <auto F>
constexpr MessageEntry MapQueryDragIcon() {
  return {WM_QUERYDRAGICON, 0, 0, [](CWnd* w, WPARAM, LPARAM) -> LRESULT {
            return reinterpret_cast<LRESULT>((message_map_detail::Target<F>(w)->*F)());
          }};
}

// A message that is bound only to get the window's default processing.
constexpr MessageEntry MapDefault(UINT message) {
  return {message, 0, 0, &message_map_detail::DefaultThunk};
}
