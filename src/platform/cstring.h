// Platform layer contract: CString and CStringArray, the framework's string
// classes. Narrow (ANSI) text: the client's texts are byte strings, passed to
// the file functions unchanged. Only operating-system independent code here.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

class CString {
  public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const char* pch, int nLength)
        : m_str(pch ? pch : "", pch && nLength > 0 ? nLength : 0) {}
    CString(char ch, int nRepeat = 1) : m_str(nRepeat > 0 ? nRepeat : 0, ch) {}
    CString(const std::string& s) : m_str(s) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    char GetAt(int nIndex) const { return m_str.at(static_cast<size_t>(nIndex)); }
    char operator[](int nIndex) const { return GetAt(nIndex); }
    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    const std::string& str() const { return m_str; }

    // printf-style; the result replaces the contents.
    void Format(const char* pszFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Loads string resource nID from the registered string table.
    BOOL LoadString(UINT nID);

    int CompareNoCase(const char* psz) const;
    int ReverseFind(char ch) const;
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;

    // Direct buffer access, as in MFC: write up to nMinBufLength characters,
    // then ReleaseBuffer(-1) takes the length from the terminating zero.
    char* GetBuffer(int nMinBufLength);
    void ReleaseBuffer(int nNewLength = -1);

    CString& operator=(const char* psz) {
        m_str = psz ? psz : "";
        return *this;
    }
    CString& operator+=(const char* psz) {
        m_str += psz ? psz : "";
        return *this;
    }
    CString& operator+=(const CString& s) {
        m_str += s.m_str;
        return *this;
    }
    CString& operator+=(char ch) {
        m_str += ch;
        return *this;
    }

    friend CString operator+(const CString& a, const CString& b) {
        return CString(a.m_str + b.m_str);
    }
    friend CString operator+(const CString& a, const char* b) {
        return CString(a.m_str + (b ? b : ""));
    }
    friend CString operator+(const char* a, const CString& b) {
        return CString((a ? a : "") + b.m_str);
    }
    friend CString operator+(const CString& a, char b) {
        return CString(a.m_str + b);
    }
    friend bool operator==(const CString& a, const CString& b) {
        return a.m_str == b.m_str;
    }
    friend bool operator==(const CString& a, const char* b) {
        return a.m_str == (b ? b : "");
    }
    friend bool operator!=(const CString& a, const CString& b) {
        return !(a == b);
    }
    friend bool operator!=(const CString& a, const char* b) {
        return !(a == b);
    }

  private:
    std::string m_str;
};

class CStringArray {
  public:
    INT_PTR GetSize() const { return static_cast<INT_PTR>(m_items.size()); }
    INT_PTR GetCount() const { return GetSize(); }
    BOOL IsEmpty() const { return m_items.empty(); }
    INT_PTR Add(const char* psz) {
        m_items.emplace_back(psz);
        return GetSize() - 1;
    }
    INT_PTR Add(const CString& s) {
        m_items.push_back(s);
        return GetSize() - 1;
    }
    const CString& GetAt(INT_PTR nIndex) const { return m_items.at(static_cast<size_t>(nIndex)); }
    const CString& operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
    CString& operator[](INT_PTR nIndex) { return m_items.at(static_cast<size_t>(nIndex)); }
    void RemoveAll() { m_items.clear(); }

  private:
    std::vector<CString> m_items;
};
