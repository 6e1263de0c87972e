// Answers the system's dialogs that the calling thread shows while it
// lives: it notes each dialog's title, owner and the text of each field
// after its label, puts in the edits (a field by its label, a choice by its
// text, as the user would pick it), and presses OK or Cancel. Under Wine
// the dialogs need a graphics driver (a display, or the null driver the
// test runner sets up).
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

struct SeenSystemDialog {
  std::string title;
  HWND owner = nullptr;
  std::map<std::string, std::string> fields;  // label -> the field's text
};

class SystemDialogAnswerer {
 public:
  using Edits = std::vector<std::pair<std::string, std::string>>;

  explicit SystemDialogAnswerer(Edits edits = {}, bool confirm = false)
      : edits_(std::move(edits)), confirm_(confirm) {
    current_ = this;
    hook_ = ::SetWindowsHookExA(WH_CBT, &SystemDialogAnswerer::Hook, nullptr, ::GetCurrentThreadId());
  }
  ~SystemDialogAnswerer() {
    if (hook_ != nullptr) ::UnhookWindowsHookEx(hook_);
    current_ = nullptr;
  }
  SystemDialogAnswerer(const SystemDialogAnswerer&) = delete;
  SystemDialogAnswerer& operator=(const SystemDialogAnswerer&) = delete;

  bool Hooked() const { return hook_ != nullptr; }

  std::vector<SeenSystemDialog> seen;
  // Edits whose label or choice the dialog did not have.
  std::vector<std::string> notApplied;

 private:
  static std::string TextOf(HWND window) {
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
  }

  // The label's field: the control after it.
  static HWND FieldAfter(HWND dialog, const std::string& label) {
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      char cls[32] = {};
      ::GetClassNameA(child, cls, sizeof cls);
      if (::lstrcmpiA(cls, "Static") == 0 && TextOf(child) == label) return ::GetWindow(child, GW_HWNDNEXT);
    }
    return nullptr;
  }

  void Answer(HWND dialog) {
    for (HWND done : answered_)
      if (done == dialog) return;  // activated again
    answered_.push_back(dialog);
    SeenSystemDialog shown;
    shown.title = TextOf(dialog);
    shown.owner = ::GetWindow(dialog, GW_OWNER);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
      char cls[32] = {};
      ::GetClassNameA(child, cls, sizeof cls);
      if (::lstrcmpiA(cls, "Static") != 0) continue;
      if (HWND field = ::GetWindow(child, GW_HWNDNEXT)) shown.fields[TextOf(child)] = TextOf(field);
    }
    seen.push_back(shown);
    for (const auto& [label, choice] : edits_) {
      HWND field = FieldAfter(dialog, label);
      const LRESULT index = field != nullptr ? ::SendMessageA(field, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                              reinterpret_cast<LPARAM>(choice.c_str()))
                                             : CB_ERR;
      if (index == CB_ERR) {
        notApplied.push_back(label + "=" + choice);
        continue;
      }
      ::SendMessageA(field, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      // As a pick by the user tells the dialog.
      ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(field), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(field));
    }
    const int button = confirm_ ? IDOK : IDCANCEL;
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, button)));
  }

  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current_ != nullptr) {
      HWND window = reinterpret_cast<HWND>(wParam);
      char cls[32] = {};
      ::GetClassNameA(window, cls, sizeof cls);
      if (std::string(cls) == "#32770") current_->Answer(window);  // a dialog
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
  }

  Edits edits_;
  bool confirm_;
  std::vector<HWND> answered_;
  HHOOK hook_ = nullptr;
  static inline thread_local SystemDialogAnswerer* current_ = nullptr;
};
