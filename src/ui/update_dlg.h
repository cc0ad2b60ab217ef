// The progress window: the program's main window. It owns the update
// connection, the receive state machine over one fixed buffer, the local
// version pair and the list of received files.
#pragma once

#include "install/version_record.h"
#include "platform/cstring.h"
#include "platform/wnd.h"
#include "protocol/update_socket.h"
#include "ui/wait_dlg.h"

#include <cstdio>

#define UPDATE_RECV_BUFFER 2048

class CUpdateDlg;

// The player's message for a shortage of room on disk: nNeeded bytes must be
// free.
CString DiskFullText(unsigned long long nNeeded);

// The install step's thread procedure; its argument is the progress window.
// Always returns 0.
unsigned __stdcall InstallWorker(void* pDialog);

class CUpdateDlg : public CDialog {
  public:
    explicit CUpdateDlg(CWnd* pParent = nullptr);
    ~CUpdateDlg() override;

    // Receive states.
    enum { WaitVersionReply = 0, WaitListHeader = 1, WaitFileHeader = 2, ReceiveFileBody = 3 };

    // Socket notifications (from m_socket).
    void OnSocketReceive();
    void OnSocketClose(int nErrorCode);

    // The version record in File.ver.
    VersionRecordStatus ReadVersionRecord();
    BOOL WriteVersionRecord();

    // Installs the received files and records the version reached; the one
    // place every end of an exchange goes through.
    void InstallReceivedFiles();
    // Ends the exchange: installs, ends the window and runs the server
    // selection.
    void FinishUpdate();

    // Progress operations of the receive state machine. The virtual ones run
    // for every piece received and only show what the exchange has done; a
    // harness that runs the exchange many thousand times with no one watching
    // may override them.
    void BeginTotalProgress(int nTotal);
    void BeginFileProgress(int nSize);
    virtual void AdvanceProgress(int nCount);
    virtual void RefreshLabels();
    // The caption's figures (percentage, rate, time left) brought up to date.
    virtual void RefreshCaption();

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnPaint() override;
    HCURSOR OnQueryDragIcon() override;
    void OnDestroy() override;
    void OnTimer(UINT_PTR nIDEvent) override;

  public:
    // Window members.
    CProgressCtrl m_totalBar;
    CProgressCtrl m_fileBar;
    CString m_strFileCount;
    CString m_strFileName; // also the name of the file being received
    CString m_strCurrent;
    CString m_strTotal;
    HICON m_hIcon = nullptr;
    CWaitDlg m_waitDlg;

    // The exchange.
    CUpdateSocket m_socket;
    unsigned char m_recvBuf[UPDATE_RECV_BUFFER];
    int m_nRecvLen = 0;
    int m_nState = WaitVersionReply;
    DWORD m_nVersion[2] = {0, 0};
    int m_nGroupFiles[2] = {0, 0};
    int m_nGroup = 0;
    DWORD m_nFileVersion = 0;
    int m_nFileRemain = 0;
    int m_nTotalSize = 0;
    FILE* m_pOutFile = nullptr;
    CStringArray m_receivedFiles;
    int m_nRedirects = 0;      // redirects followed in this run
    BOOL m_bFinishing = FALSE; // the finish step has begun: later data is dropped

    // The caption as a status line (update_dlg_status.cpp).
    CString m_strTitle;            // the template's caption
    CString m_strCaption;          // the caption shown now
    BOOL m_bWatching = FALSE;      // a connection is open and its next byte awaited
    ULONGLONG m_nLastDataTick = 0; // the tick that last saw data from the server (or the connect)
    BOOL m_bDataSinceTick = FALSE; // data came since the last tick (no clock read per receive)
    long long m_nBodyBytes = 0;    // file body bytes received in this run
    ULONGLONG m_nRateTick = 0;     // when the rate was last sampled
    long long m_nRateBytes = 0;    // m_nBodyBytes then
    double m_dRate = -1;           // smoothed bytes per second; -1 before the first sample
    int m_nRateSamples = 0;        // samples taken into m_dRate
    int m_nShownPercent = -1;      // the percentage in the caption, -1 none
    BOOL m_bStallShown = FALSE;    // the caption says the client is waiting

  private:
    BOOL ConnectToServer();
    // One turn of the state machine at parse position p: TRUE to dispatch
    // again, FALSE when the pass ends.
    BOOL StepVersionReply(const unsigned char*& p);
    BOOL StepListHeader(const unsigned char*& p);
    BOOL StepFileHeader(const unsigned char*& p);
    BOOL StepFileBody(const unsigned char*& p);
    BOOL HasRoomToDownload();
    BOOL FollowRedirect(ULONG nAddr);
    void SendVersionRequest();
    // Ends the exchange after a failure: closes the connection, shows the
    // message (a string resource or a text) and ends the window.
    void FailExchange(UINT nIDPrompt, UINT nIcon);
    void FailExchange(const char* lpszText, UINT nIcon);
    void FailCreateFile(const CString& strPath);
    void FailWriteFile();
    void DropPendingData();

    // The status timer runs from each successful connect until the exchange
    // ends; stopping it puts the plain caption back.
    void StartWatching();
    void StopWatching();
    void BeginTransferFigures();
    void CountBodyBytes(int nCount);
    int PercentDone() const;
    void GiveUpWaiting();
    void SampleRate(ULONGLONG nNow);
    CString ProgressCaption();
    void SetCaption(const CString& strCaption);
};
