// Shared harness of the update client's fuzz targets: the process set up as
// the client's user-interface thread (application object, resources, a
// silent front end), a scratch working directory inside a jail directory,
// and a guard that traps when the client touches a path outside the jail.
#pragma once

#include "platform/host/frontend.h"

#include <functional>
#include <string>
#include <vector>

namespace clientfuzz {

// A front end that answers every message box with OK and records its text,
// and hands each modal start to a callback (the harness drives the dialog
// from there).
class SilentFrontEnd : public tvhost::FrontEnd {
  public:
    int OnMessageBox(HWND hBox, const tvhost::MessageBoxEvent& box) override;
    void OnModalStart(HWND hDlg) override;

    std::vector<std::string> boxes;
    std::function<void(UINT nIDTemplate, HWND hDlg)> onModalStart;
};

// Binds this thread as the user-interface thread, creates the application
// object, the resources, the front end and the jail (once per process), and
// makes the scratch directory the current one, empty. Returns the front end,
// cleared.
SilentFrontEnd& BeginRun();

// Ends a run: traps when anything appeared in the jail outside the scratch
// and temporary directories, or when a symbolic link appeared in them; then
// empties them.
void EndRun();

// The scratch working directory (absolute) and the temporary directory
// (TMPDIR) of the runs.
const std::string& ScratchDir();
const std::string& TempDir();

// Reads a file of the scratch directory; false when it does not exist.
bool ReadFile(const std::string& relativePath, std::string& out);
void WriteFile(const std::string& relativePath, const std::string& data);

} // namespace clientfuzz
