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

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
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

int CString::Compare(const char* psz) const {
    return std::strcmp(m_str.c_str(), psz ? psz : "");
}

int CString::CompareNoCase(const char* psz) const {
    return CompareBytesNoCase(m_str, psz);
}

int CString::Find(char ch, int nStart) const {
    if (nStart < 0 || nStart >= GetLength())
        return -1;
    size_t at = m_str.find(ch, static_cast<size_t>(nStart));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char* pszSub, int nStart) const {
    if (!pszSub || nStart < 0 || nStart > GetLength())
        return -1;
    size_t at = m_str.find(pszSub, static_cast<size_t>(nStart));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
    size_t at = m_str.rfind(ch);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString CString::Left(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString& CString::MakeUpper() {
    for (char& c : m_str)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return *this;
}

CString& CString::MakeLower() {
    for (char& c : m_str)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return *this;
}

int CString::Replace(char chOld, char chNew) {
    int n = 0;
    for (char& c : m_str)
        if (c == chOld) {
            c = chNew;
            ++n;
        }
    return n;
}

CString& CString::TrimLeft() {
    size_t i = 0;
    while (i < m_str.size() && IsBlank(m_str[i]))
        ++i;
    m_str.erase(0, i);
    return *this;
}

CString& CString::TrimRight() {
    while (!m_str.empty() && IsBlank(m_str.back()))
        m_str.pop_back();
    return *this;
}

CString& CString::Trim() {
    return TrimRight().TrimLeft();
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

void CStringArray::RemoveAt(INT_PTR nIndex, INT_PTR nCount) {
    if (nIndex < 0 || nCount <= 0 || nIndex >= GetSize())
        return;
    INT_PTR end = std::min(GetSize(), nIndex + nCount);
    m_items.erase(m_items.begin() + nIndex, m_items.begin() + end);
}
