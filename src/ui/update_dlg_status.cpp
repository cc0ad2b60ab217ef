// The progress window's caption as a status line: while the exchange waits
// for the server it says how far the transfer has come (percentage, rate,
// time left), or, once nothing has come for a while, how long it has been
// waiting; past the configured limit it gives up as on a lost connection.
// Driven by a timer, so nothing here runs per received piece but a counter
// and a clock read. Operating-system independent code only.
#include "app/settings.h"
#include "ui/update_dlg.h"

#include <algorithm>

namespace {

const UINT_PTR kStatusTimer = 1;
const UINT kStatusTickMs = 500;
// Silence longer than this is worth saying; shorter is an ordinary pause.
const ULONGLONG kStallNoticeMs = 5000;
// Weight of the newest rate sample once a few are in: over about two seconds
// of ticks the figure follows a change without jumping at every burst. The
// first samples are averaged evenly, so the first figures are not dragged
// down by a start value.
const double kRateWeight = 0.25;

const double kMegabyte = 1024.0 * 1024.0;

CString RateText(double dRate) {
    CString str;
    if (dRate >= kMegabyte)
        str.Format("%.1f MB/s", dRate / kMegabyte);
    else
        str.Format("%d KB/s", static_cast<int>(dRate / 1024.0));
    return str;
}

CString TimeLeftText(long long nSeconds) {
    nSeconds = std::min(nSeconds, 99LL * 3600 + 59 * 60 + 59);
    CString str;
    if (nSeconds >= 3600)
        str.Format("%lld:%02lld:%02lld left", nSeconds / 3600, nSeconds / 60 % 60, nSeconds % 60);
    else
        str.Format("%lld:%02lld left", nSeconds / 60, nSeconds % 60);
    return str;
}

} // namespace

void CUpdateDlg::StartWatching() {
    m_nLastDataTick = GetTickCount64();
    m_bDataSinceTick = FALSE;
    m_bWatching = TRUE;
    SetTimer(kStatusTimer, kStatusTickMs, nullptr);
}

// The rate counts from the file list on: the exchange before it is no
// transfer.
void CUpdateDlg::BeginTransferFigures() {
    m_nRateTick = GetTickCount64();
    m_nRateBytes = m_nBodyBytes;
    m_dRate = -1;
    m_nRateSamples = 0;
    m_nShownPercent = -1;
}

// Keeps the caption's percentage in step with the total counter; the rest of
// the caption changes on the timer.
void CUpdateDlg::CountBodyBytes(int nCount) {
    m_nBodyBytes += nCount;
    if (!m_bWatching || m_nTotalSize <= 0 || m_bStallShown)
        return;
    if (PercentDone() != m_nShownPercent)
        RefreshCaption();
}

int CUpdateDlg::PercentDone() const {
    const long long nTotal = m_nTotalSize;
    return nTotal > 0 ? static_cast<int>(std::min(m_nBodyBytes, nTotal) * 100 / nTotal) : -1;
}

void CUpdateDlg::StopWatching() {
    if (!m_bWatching)
        return;
    m_bWatching = FALSE;
    m_bStallShown = FALSE;
    KillTimer(kStatusTimer);
    SetCaption(m_strTitle);
}

void CUpdateDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kStatusTimer) {
        CDialog::OnTimer(nIDEvent);
        return;
    }
    // A connection closed on a failure or by a redirect that failed reaches
    // nobody any more; nothing is expected from it.
    if (!m_bWatching || m_bFinishing || m_socket.m_pOwner != this) {
        StopWatching();
        return;
    }
    const ULONGLONG nNow = GetTickCount64();
    if (m_bDataSinceTick) {
        m_nLastDataTick = nNow;
        m_bDataSinceTick = FALSE;
    }
    const ULONGLONG nIdle = nNow - m_nLastDataTick;
    if (g_nTimeout != 0 && nIdle >= static_cast<ULONGLONG>(g_nTimeout) * 1000) {
        GiveUpWaiting();
        return;
    }
    SampleRate(nNow);
    m_bStallShown = nIdle >= kStallNoticeMs;
    if (m_bStallShown) {
        CString str;
        str.Format("%s - waiting for the server (%llu s)", m_strTitle.GetString(),
                   static_cast<unsigned long long>(nIdle / 1000));
        SetCaption(str);
    } else {
        RefreshCaption();
    }
}

// Handled exactly as the server closing the connection with an error: the
// files completed so far are installed and the player is told the
// connection was lost.
void CUpdateDlg::GiveUpWaiting() {
    m_socket.Close();
    OnSocketClose(WSAETIMEDOUT);
}

void CUpdateDlg::SampleRate(ULONGLONG nNow) {
    const ULONGLONG nSpan = nNow - m_nRateTick;
    if (nSpan < kStatusTickMs / 2)
        return;
    const double dSample =
        static_cast<double>(m_nBodyBytes - m_nRateBytes) * 1000.0 / static_cast<double>(nSpan);
    ++m_nRateSamples;
    const double dWeight = std::max(kRateWeight, 1.0 / m_nRateSamples);
    m_dRate = m_dRate < 0 ? dSample : m_dRate + dWeight * (dSample - m_dRate);
    m_nRateTick = nNow;
    m_nRateBytes = m_nBodyBytes;
}

// "TITLE - 34 % - 3.2 MB/s - 0:42 left", each figure once it means something:
// the percentage once the total is known, the rate after the first sample,
// the time left while the rate is above zero and bytes are still to come.
CString CUpdateDlg::ProgressCaption() {
    CString str = m_strTitle;
    if (m_nState < WaitFileHeader)
        return str;
    const long long nTotal = std::max(m_nTotalSize, 0);
    m_nShownPercent = PercentDone();
    if (m_nShownPercent >= 0) {
        CString strPercent;
        strPercent.Format(" - %d %%", m_nShownPercent);
        str += strPercent;
    }
    if (m_dRate < 0)
        return str;
    str += " - ";
    str += RateText(m_dRate);
    if (m_dRate >= 1.0 && m_nBodyBytes < nTotal) {
        const double dLeft = static_cast<double>(nTotal - m_nBodyBytes) / m_dRate;
        str += " - ";
        str += TimeLeftText(static_cast<long long>(dLeft + 0.999));
    }
    return str;
}

void CUpdateDlg::RefreshCaption() {
    SetCaption(ProgressCaption());
}

void CUpdateDlg::SetCaption(const CString& strCaption) {
    if (strCaption == m_strCaption)
        return;
    m_strCaption = strCaption;
    SetWindowText(strCaption);
}
