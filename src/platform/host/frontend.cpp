// Host backend: the front-end registry and the recording front end.
#include "platform/host/frontend.h"

#include "platform/host/frontends.h"
#include "platform/host/window.h"
#include "platform/wnd.h"

namespace tvhost {

namespace {

std::unique_ptr<FrontEnd>& Current() {
    static auto* current = new std::unique_ptr<FrontEnd>;
    return *current;
}

} // namespace

const char* BoxIconName(BoxIcon icon) {
    switch (icon) {
    case BoxIcon::Error:
        return "error";
    case BoxIcon::Information:
        return "information";
    case BoxIcon::Question:
        return "question";
    case BoxIcon::Warning:
        break;
    }
    return "warning";
}

BoxIcon BoxIconFromType(UINT nType) {
    switch (nType & MB_ICONMASK) {
    case MB_ICONERROR:
        return BoxIcon::Error;
    case MB_ICONINFORMATION:
        return BoxIcon::Information;
    case MB_ICONQUESTION:
        return BoxIcon::Question;
    case MB_ICONEXCLAMATION:
        return BoxIcon::Warning;
    default:
        // NOTE: the framework's message box gives an OK-only box without an
        // icon flag the exclamation icon (MFC's AfxMessageBox adds it).
        return BoxIcon::Warning;
    }
}

void SetFrontEnd(std::unique_ptr<FrontEnd> frontEnd) {
    if (Current())
        Current()->Stop();
    Current() = std::move(frontEnd);
    if (Current())
        Current()->Start();
}

FrontEnd& GetFrontEnd() {
    if (!Current())
        SetFrontEnd(MakeLineFrontEnd());
    return *Current();
}

RecordingFrontEnd& InstallRecordingFrontEnd() {
    auto rec = std::make_unique<RecordingFrontEnd>();
    RecordingFrontEnd& ref = *rec;
    SetFrontEnd(std::move(rec));
    return ref;
}

// ---- RecordingFrontEnd -------------------------------------------------------

std::vector<MessageBoxEvent> RecordingFrontEnd::MessageBoxes() const {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

std::vector<RecordingFrontEnd::TextEvent> RecordingFrontEnd::Texts() const {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

std::vector<std::string> RecordingFrontEnd::TextHistory(int nID) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const TextEvent& t : m_texts)
        if (t.nID == nID && (out.empty() || out.back() != t.text))
            out.push_back(t.text);
    return out;
}

std::string RecordingFrontEnd::Text(int nID) const {
    std::lock_guard lock(m_mutex);
    for (auto it = m_texts.rbegin(); it != m_texts.rend(); ++it)
        if (it->nID == nID)
            return it->text;
    return {};
}

std::vector<RecordingFrontEnd::ProgressEvent> RecordingFrontEnd::Progress(int nID) const {
    std::lock_guard lock(m_mutex);
    std::vector<ProgressEvent> out;
    for (const ProgressEvent& p : m_progress)
        if (p.nID == nID)
            out.push_back(p);
    return out;
}

std::vector<UINT> RecordingFrontEnd::ModalRuns() const {
    std::lock_guard lock(m_mutex);
    return m_modalRuns;
}

void RecordingFrontEnd::Clear() {
    std::lock_guard lock(m_mutex);
    m_boxes.clear();
    m_texts.clear();
    m_progress.clear();
    m_modalRuns.clear();
}

void RecordingFrontEnd::SetMessageBoxScript(std::function<int(const MessageBoxEvent&)> script) {
    std::lock_guard lock(m_mutex);
    m_boxScript = std::move(script);
}

void RecordingFrontEnd::SetModalStartScript(std::function<void(UINT, HWND)> script) {
    std::lock_guard lock(m_mutex);
    m_modalScript = std::move(script);
}

int RecordingFrontEnd::OnMessageBox(HWND, const MessageBoxEvent& box) {
    std::function<int(const MessageBoxEvent&)> script;
    {
        std::lock_guard lock(m_mutex);
        m_boxes.push_back(box);
        script = m_boxScript;
    }
    return script ? script(box) : IDOK;
}

void RecordingFrontEnd::OnModalStart(HWND hDlg) {
    std::function<void(UINT, HWND)> script;
    UINT id = DialogTemplateId(hDlg);
    {
        std::lock_guard lock(m_mutex);
        m_modalRuns.push_back(id);
        script = m_modalScript;
    }
    if (script)
        script(id, hDlg);
}

void RecordingFrontEnd::OnTextChanged(HWND hWnd) {
    std::lock_guard lock(m_mutex);
    const Window& w = *Win(hWnd);
    int id = w.type == WindowType::Control ? w.nID : 0;
    m_texts.push_back({DialogTemplateId(hWnd), id, w.text});
}

void RecordingFrontEnd::OnProgressChanged(HWND hWnd) {
    std::lock_guard lock(m_mutex);
    const Window& w = *Win(hWnd);
    m_progress.push_back({DialogTemplateId(hWnd), w.nID, w.low, w.high, w.pos});
}

} // namespace tvhost
