// Platform layer, shared code: CString and CStringArray, plain standard C++,
// the same on every backend.
#include "platform/cstring.h"

#include "platform/resources.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

int CompareBytesNoCase(const std::string& a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a.c_str());
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
    for (;; ++p, ++q) {
        // NOTE: ASCII folding only, as the ANSI code page folds Latin letters;
        // multi-byte (Korean) text compares byte for byte.
        int c = (*p >= 'A' && *p <= 'Z') ? *p + 32 : *p;
        int d = (*q >= 'A' && *q <= 'Z') ? *q + 32 : *q;
        if (c != d || c == 0)
            return c - d;
    }
}

} // namespace

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    char shortText[256];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(shortText, sizeof shortText, pszFormat, copy);
    va_end(copy);
    if (n < 0) {
        m_str.clear();
    } else if (static_cast<size_t>(n) < sizeof shortText) {
        m_str.assign(shortText, static_cast<size_t>(n));
    } else {
        std::string big(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), pszFormat, args);
        big.resize(static_cast<size_t>(n));
        m_str = std::move(big);
    }
    va_end(args);
}

BOOL CString::LoadString(UINT nID) {
    const char* text = AfxFindString(nID);
    if (!text)
        return FALSE;
    m_str = text;
    return TRUE;
}

int CString::CompareNoCase(const char* psz) const {
    return CompareBytesNoCase(m_str, psz);
}

int CString::ReverseFind(char ch) const {
    size_t at = m_str.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

char* CString::GetBuffer(int nMinBufLength) {
    if (nMinBufLength > GetLength())
        m_str.resize(static_cast<size_t>(nMinBufLength));
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0)
        nNewLength = static_cast<int>(std::strlen(m_str.c_str()));
    m_str.resize(static_cast<size_t>(std::min(nNewLength, GetLength())));
}
