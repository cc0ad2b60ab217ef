// The "Server Select" dialog: lists the game servers of Server.cnv and starts
// the game client with the chosen server's address.
#pragma once

#include "platform/cstring.h"
#include "platform/wnd.h"

class CServerSelectDlg : public CDialog {
  public:
    explicit CServerSelectDlg(CWnd* pParent = nullptr);

    // The temporary directory followed by lpszName (a leading "\" and then a
    // leading ".\" dropped); "" when the directory cannot be had.
    static CString GetTempFilePath(const char* lpszName);
    // Writes the unscrambled content of lpszSource (created empty when it is
    // missing) into lpszDestination, which must not exist yet: it is created
    // exclusively, readable by the user only, and removed again on failure.
    static BOOL UnscrambleFile(const char* lpszSource, const char* lpszDestination);

    CListBox m_serverList; // item data: the server's IPv4 address, network order
    HICON m_hIcon = nullptr;

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(UINT nID, UINT nCode) override;

    void OnConnect();
    // Fills the list from Server.cnv through a temporary plain copy; FALSE
    // (message 7 shown) when the list cannot be converted.
    BOOL LoadServerList();
    BOOL LaunchClient();
    BOOL StartClientProcess(const char* lpszArguments);

  private:
    void ReadServerEntries(const char* lpszListPath);
};
