// Platform layer, shared code: the registered resource table and its lookups,
// the same on every backend.
#include "platform/resources.h"

#include <atomic>

namespace {

// Set once at start-up before any window exists; read from the user-interface
// thread and, for strings, from the install worker.
std::atomic<const ResourceTable*> g_resources{nullptr};
ResourceTable g_copy;

} // namespace

void AfxSetResources(const ResourceTable& table) {
    g_copy = table;
    g_resources.store(&g_copy);
}

const DialogTemplate* AfxFindDialogTemplate(UINT nIDTemplate) {
    const ResourceTable* t = g_resources.load();
    if (!t)
        return nullptr;
    for (int i = 0; i < t->nDialogs; ++i)
        if (t->dialogs[i].nID == nIDTemplate)
            return &t->dialogs[i];
    return nullptr;
}

const char* AfxFindString(UINT nID) {
    const ResourceTable* t = g_resources.load();
    if (!t)
        return nullptr;
    for (int i = 0; i < t->nStrings; ++i)
        if (t->strings[i].nID == nID)
            return t->strings[i].text;
    return nullptr;
}
