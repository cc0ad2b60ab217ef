// Win32 backend: the project's dialog templates (platform/resources.h) as the
// in-memory extended dialog templates (DLGTEMPLATEEX) the dialog manager
// builds real dialogs from: same ids, control kinds, positions in dialog
// units, styles, extended styles, captions and font.
#pragma once

#include "platform/resources.h"

#include <vector>

namespace tvwin32 {

// DWORD storage, so the template and each item start DWORD-aligned as the
// dialog manager requires.
using DialogTemplateBytes = std::vector<DWORD>;

DialogTemplateBytes BuildDialogTemplate(const DialogTemplate& tmpl);

inline LPCDLGTEMPLATEW AsDialogTemplate(const DialogTemplateBytes& bytes) {
    return reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data());
}

} // namespace tvwin32
