// Shared harness of the update client's fuzz targets: the process set up as
// the client's user-interface thread (application object, resources, a
// silent front end), a scratch working directory inside a jail directory,
// and a guard that traps when the client touches a path outside the jail.
#pragma once

#include "platform/host/frontend.h"

#include <cstddef>
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

// Files of the scratch directory, by paths relative to it. Neither builds
// a path nor allocates beyond the string read: they run several times a run.
// ReadFile is false when the file does not exist.
bool ReadFile(const char* relativePath, std::string& out);
void WriteFile(const char* relativePath, const void* data, size_t size);

enum class FileMatch { Missing, Differs, Same };
// Whether the file holds exactly size bytes of data, read piece by piece.
FileMatch CompareFile(const char* relativePath, const void* data, size_t size);

// No entry in the temporary directory.
bool TempDirEmpty();

} // namespace clientfuzz
