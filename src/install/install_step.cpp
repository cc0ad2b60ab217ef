// The install and finish steps of the progress window. Operating-system
// independent code only.
#include "ui/update_dlg.h"

// FIXME: the received ".gz" files are not decompressed yet and File.ver is
// not rewritten; the worker thread, the wait panel and the version record
// write belong here. Every end of an exchange already calls this one place.
void CUpdateDlg::InstallReceivedFiles() {}

// FIXME: the server selection and the game launch follow the install step
// here; until then the finish step only ends the progress window.
void CUpdateDlg::FinishUpdate() {
    m_bFinishing = TRUE;
    InstallReceivedFiles();
    EndDialog(0);
}
