// Fuzz target: the server selection's loading of an arbitrary Server.cnv.
//
// The "Server Select" dialog runs modally as in the product and is cancelled
// once it shows its list. Invariants: no message (a readable Server.cnv is
// never damaged as far as the loader can tell); every name fits the 128-byte
// buffer; the list is no longer than the loader's bound; Server.cnv is
// unchanged; the plain copy is gone from the temporary directory; nothing is
// written outside the scratch directory.

#include "client_fuzz_support.h"

#include "platform/host/window.h"
#include "ui/resource.h"
#include "ui/server_select_dlg.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    clientfuzz::SilentFrontEnd& fe = clientfuzz::BeginRun();
    clientfuzz::WriteFile("Server.cnv", data, size);

    size_t items = 0;
    bool shown = false;
    fe.onModalStart = [&](UINT id, HWND h) {
        if (id != IDD_SERVER_SELECT)
            return;
        shown = true;
        HWND list = tvhost::FindChild(h, IDC_SERVER_LIST);
        if (list == nullptr)
            Fail("the dialog has no list");
        items = tvhost::Win(list)->items.size();
        for (const ListItem& item : tvhost::Win(list)->items)
            if (item.text.size() > 127)
                Fail("a server name longer than its buffer");
        if (!tvhost::Win(list)->items.empty() && tvhost::Win(list)->sel != 0)
            Fail("the first server is not selected");
        tvhost::PostKey(tvhost::Key::Escape);
    };
    {
        CServerSelectDlg dlg(nullptr);
        dlg.DoModal();
    }
    if (!fe.boxes.empty())
        Fail(("unexpected message: " + fe.boxes.front()).c_str());
    if (!shown)
        Fail("the list was not shown");
    if (items > 4096)
        Fail("more servers than the loader's bound");
    if (clientfuzz::CompareFile("Server.cnv", data, size) != clientfuzz::FileMatch::Same)
        Fail("Server.cnv changed");
    if (!clientfuzz::TempDirEmpty())
        Fail("the plain copy was left in the temporary directory");
    clientfuzz::EndRun();
    return 0;
}
