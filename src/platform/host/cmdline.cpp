// Host backend: Windows command-line splitting and quoting.
#include "platform/host/cmdline.h"

namespace tvhost {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string::size_type ProgramName(const std::string& s, std::string& out) {
    std::string::size_type i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    if (i < s.size() && s[i] == '"') {
        std::string::size_type close = s.find('"', i + 1);
        out = s.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        return close == std::string::npos ? s.size() : close + 1;
    }
    std::string::size_type end = i;
    while (end < s.size() && !IsBlank(s[end]))
        ++end;
    out = s.substr(i, end - i);
    return end;
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& s) {
    std::vector<std::string> args;
    std::string prog;
    std::string::size_type i = ProgramName(s, prog);
    args.push_back(prog);
    for (;;) {
        while (i < s.size() && IsBlank(s[i]))
            ++i;
        if (i >= s.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < s.size()) {
            std::string::size_type n = 0;
            while (i < s.size() && s[i] == '\\') {
                ++n;
                ++i;
            }
            if (i < s.size() && s[i] == '"') {
                arg.append(n / 2, '\\');
                if (n % 2 == 1) {
                    arg += '"';
                    ++i;
                } else if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
                continue;
            }
            arg.append(n, '\\');
            if (i >= s.size() || (IsBlank(s[i]) && !quoted))
                break;
            arg += s[i++];
        }
        args.push_back(arg);
    }
    return args;
}

std::string JoinArguments(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& a : args) {
        if (!out.empty())
            out += ' ';
        if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) {
            out += a;
            continue;
        }
        out += '"';
        for (std::string::size_type i = 0;; ++i) {
            std::string::size_type n = 0;
            while (i < a.size() && a[i] == '\\') {
                ++n;
                ++i;
            }
            if (i == a.size()) {
                out.append(n * 2, '\\');
                break;
            }
            if (a[i] == '"')
                out.append(n * 2 + 1, '\\');
            else
                out.append(n, '\\');
            out += a[i];
        }
        out += '"';
    }
    return out;
}

} // namespace tvhost
