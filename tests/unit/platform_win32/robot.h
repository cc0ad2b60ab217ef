// A small robot for tests of the Win32 backend: from a helper thread it finds
// this process's windows, reads them, and presses keys and buttons the way a
// user would reach them (messages the dialog manager and the controls take).
#pragma once

#include "platform/wintypes.h"

#include <functional>
#include <string>
#include <thread>

namespace robot {

// The window's text as UTF-8.
std::string Text(HWND hWnd);
std::string ClassName(HWND hWnd);

// A visible top-level dialog of this process with that caption (UTF-8);
// nullptr when none appears within timeoutMs.
HWND WaitForDialog(const std::string& caption, int timeoutMs = 60000);
// Until the window is gone; false on timeout.
bool WaitGone(HWND hWnd, int timeoutMs = 10000);

// A key, as the keyboard sends it to the focused control of the window's
// thread (so the dialog manager turns Enter and Escape into commands).
void PressKey(HWND hDlg, UINT vk);
// The caption's close box.
void PressCloseBox(HWND hDlg);
// A button, as a mouse click does (BM_CLICK, queued to its thread).
void Click(HWND hButton);

// A message box as the user sees it.
struct Box {
    HWND hWnd = nullptr;
    std::string caption;
    std::string text;
    // The system icon it shows, named after its IDI_ id: "hand",
    // "exclamation", "asterisk", "question", "" for none.
    std::string icon;
    std::string ownerCaption;   // the window it is shown over ("" for none)
    bool ownerDisabled = false; // that window takes no input meanwhile
};
// Waits for a message box of this process, reads it and presses OK.
Box AnswerBox(int timeoutMs = 60000);

// Runs fn on a helper thread for the scope of the object.
class Helper {
  public:
    explicit Helper(std::function<void()> fn) : m_thread(std::move(fn)) {}
    ~Helper() {
        if (m_thread.joinable())
            m_thread.join();
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

  private:
    std::thread m_thread;
};

// Dispatches this thread's messages until done() holds or timeoutMs passes;
// false on timeout.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

} // namespace robot
