// Win32 backend: writing DLGTEMPLATEEX. Layout (all WORD-aligned, the header
// and every item DWORD-aligned):
//   header  dlgVer 1, signature 0xFFFF, helpID, exStyle, style, cDlgItems,
//           x, y, cx, cy, menu (0), class (0), title, and with DS_SETFONT:
//           pointsize, weight, italic, charset, typeface
//   item    helpID, exStyle, style, x, y, cx, cy, id (DWORD), class (an atom
//           0xFFFF nnnn of a predefined class or a name), title, extra (0)
#include "platform/win32/dialog_template.h"

#include "platform/common/window_text.h"

namespace tvwin32 {

namespace {

class TemplateWriter {
  public:
    void Word(WORD w) { m_words.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const char* utf8) {
        for (wchar_t c : tvplatform::ToWindowText(utf8 ? utf8 : ""))
            Word(static_cast<WORD>(c));
        Word(0);
    }
    void Atom(WORD atom) {
        Word(0xFFFF);
        Word(atom);
    }
    void AlignDword() {
        if (m_words.size() % 2)
            Word(0);
    }
    DialogTemplateBytes Finish() {
        AlignDword();
        DialogTemplateBytes out(m_words.size() / 2);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = MAKELONG(m_words[2 * i], m_words[2 * i + 1]);
        return out;
    }

  private:
    std::vector<WORD> m_words;
};

// Predefined control class atoms.
const WORD kButtonAtom = 0x0080;
const WORD kStaticAtom = 0x0082;
const WORD kListBoxAtom = 0x0083;

void WriteClass(TemplateWriter& w, ControlKind kind) {
    switch (kind) {
    case ControlKind::StaticLeft:
    case ControlKind::StaticRight:
        w.Atom(kStaticAtom);
        break;
    case ControlKind::ProgressBar:
        w.Text("msctls_progress32");
        break;
    case ControlKind::ListBox:
        w.Atom(kListBoxAtom);
        break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
        w.Atom(kButtonAtom);
        break;
    }
}

void WriteItem(TemplateWriter& w, const DialogControl& c) {
    w.AlignDword();
    w.Dword(0); // help id
    w.Dword(0); // extended style
    // Clipped by the siblings above it: a panel shown over the dialog (the
    // please-wait panel) stays whole when a control beneath it repaints.
    w.Dword(c.style | WS_CLIPSIBLINGS);
    w.Word(static_cast<WORD>(c.x));
    w.Word(static_cast<WORD>(c.y));
    w.Word(static_cast<WORD>(c.cx));
    w.Word(static_cast<WORD>(c.cy));
    w.Dword(static_cast<DWORD>(c.nID));
    WriteClass(w, c.kind);
    w.Text(c.text);
    w.Word(0); // no creation data
}

} // namespace

DialogTemplateBytes BuildDialogTemplate(const DialogTemplate& t) {
    TemplateWriter w;
    w.Word(1);      // dlgVer
    w.Word(0xFFFF); // signature: extended template
    w.Dword(0);     // help id
    w.Dword(t.exStyle);
    w.Dword(t.style);
    w.Word(static_cast<WORD>(t.nControls));
    w.Word(0); // x, y: the dialog manager places the window
    w.Word(0);
    w.Word(static_cast<WORD>(t.cx));
    w.Word(static_cast<WORD>(t.cy));
    w.Word(0); // no menu
    w.Word(0); // the dialog class
    w.Text(t.title);
    if (t.style & DS_SETFONT) {
        w.Word(t.pointSize);
        w.Word(FW_NORMAL);
        w.Word(MAKEWORD(FALSE, DEFAULT_CHARSET)); // italic, charset
        w.Text(t.fontName);
    }
    for (int i = 0; i < t.nControls; ++i)
        WriteItem(w, t.controls[i]);
    return w.Finish();
}

} // namespace tvwin32
