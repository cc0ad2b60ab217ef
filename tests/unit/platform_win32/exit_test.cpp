// A worker that ends the process while the user-interface thread waits for it
// and keeps painting: the process ends with the worker's exit code, whatever
// the user-interface thread was doing. Run in a child (this test program,
// started again with --exit-from-worker), as the decompressor's fatal path
// ends the whole process.
#include "platform/afx.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr UINT kDlg = 950;
const DialogTemplate kDialogs[] = {
    {kDlg, "Exit", 217, 99, "굴림체", 9, 0x90C800C0, 0, nullptr, 0},
};
const ResourceTable kTable = {kDialogs, 1, nullptr, 0, nullptr, 0};

// Built before the wait begins, so destroyed by the runtime's exit after it:
// a paint that ran during the exit would find it gone.
std::vector<std::string> g_painted = {"first paint"};

class PaintingDlg : public CDialog {
  public:
    PaintingDlg() : CDialog(kDlg) {}

  protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        PostMessage(WM_APP);
        return TRUE;
    }
    void OnPaint() override {
        g_painted.push_back(g_painted.front());
        CDialog::OnPaint();
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != WM_APP)
            return CDialog::WindowProc(message, wParam, lParam);
        HANDLE h = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Worker, m_hWnd, 0, nullptr));
        AfxWaitForWorker(h);
        return 0; // never reached: the worker ends the process
    }

  private:
    static unsigned __stdcall Worker(void* hWnd) {
        for (int i = 0; i < 50; ++i) {
            InvalidateRect(static_cast<HWND>(hWnd), nullptr, TRUE);
            Sleep(2);
        }
        std::exit(3);
    }
};

DWORD RunChild() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --exit-from-worker";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(pi.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

TEST(ExitFromWorker, EndsTheProcessWithTheWorkersCodeWhileTheWindowPaints) {
    for (int run = 0; run < 3; ++run)
        EXPECT_EQ(RunChild(), 3u) << "run " << run;
}

} // namespace

// The child's part (see main.cpp).
int ExitFromWorkerChild() {
    AfxSetResources(kTable);
    PaintingDlg dlg;
    dlg.DoModal();
    return 1; // the worker's exit never came
}
