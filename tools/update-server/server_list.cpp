// Making and reading Server.cnv with the client's own scrambling.
#include "server_list.h"

#include "install/version_record.h"

#include <arpa/inet.h>
#include <cctype>
#include <map>
#include <sstream>

namespace tvserver {

namespace {

const std::size_t kMaxValue = 127; // the client reads values into 128 bytes
const std::size_t kBlock = 256;    // the client unscrambles in blocks of this size
// A plain byte that scrambles to zero, where the client's unscrambling of
// its block stops.
const unsigned char kScramblesToZero = 0x8D;

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

struct Entry {
    std::string value;
    int line = 0;
};

// The keys of the [Server] section, lower-cased, as the profile functions
// find them (the first occurrence wins).
std::map<std::string, Entry> ServerKeys(const std::string& plain, bool& haveSection) {
    std::map<std::string, Entry> keys;
    std::istringstream in(plain);
    bool inServer = false;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';')
            continue;
        if (t[0] == '[') {
            inServer = Lower(t) == "[server]";
            haveSection = haveSection || inServer;
            continue;
        }
        const std::size_t eq = t.find('=');
        if (inServer && eq != std::string::npos)
            keys.emplace(Lower(Trim(t.substr(0, eq))), Entry{Trim(t.substr(eq + 1)), lineNo});
    }
    return keys;
}

bool BadBytes(const std::string& plain, std::vector<std::string>& errors) {
    int line = 1;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const auto c = static_cast<unsigned char>(plain[i]);
        if (c == 0 || c == kScramblesToZero)
            errors.push_back("line " + std::to_string(line) + ": byte 0x" +
                             (c == 0 ? std::string("00") : std::string("8D")) +
                             (c == 0 ? " ends the text for the client"
                                     : " scrambles to a zero byte, where the client stops "
                                       "unscrambling; change that character"));
        line += c == '\n';
    }
    return !errors.empty();
}

void CheckEntries(const std::map<std::string, Entry>& keys, long count,
                  std::vector<std::string>& errors) {
    for (long i = 0; i < count; ++i) {
        const std::string n = "name" + std::to_string(i), ip = "ip" + std::to_string(i);
        const auto name = keys.find(n), addr = keys.find(ip);
        if (name == keys.end())
            errors.push_back("Name" + std::to_string(i) + " is missing (Count is " +
                             std::to_string(count) + ")");
        else if (name->second.value.size() > kMaxValue)
            errors.push_back("line " + std::to_string(name->second.line) +
                             ": a name has at most 127 bytes");
        in_addr a{};
        if (addr == keys.end())
            errors.push_back("IP" + std::to_string(i) + " is missing (Count is " +
                             std::to_string(count) + ")");
        else if (::inet_pton(AF_INET, addr->second.value.c_str(), &a) != 1)
            errors.push_back("line " + std::to_string(addr->second.line) +
                             ": not a dotted IPv4 address: " + addr->second.value);
    }
}

} // namespace

bool EncodeServerList(const std::string& plain, std::string& cnv, std::vector<std::string>& errors,
                      std::vector<std::string>& warnings) {
    if (BadBytes(plain, errors))
        return false;
    bool haveSection = false;
    const auto keys = ServerKeys(plain, haveSection);
    const auto count = keys.find("count");
    if (!haveSection || count == keys.end()) {
        errors.push_back("no [Server] section with a Count key");
        return false;
    }
    const std::string& c = count->second.value;
    if (c.empty() || c.size() > 5 || c.find_first_not_of("0123456789") != std::string::npos) {
        errors.push_back("line " + std::to_string(count->second.line) +
                         ": Count must be a number from 0 to 99999: " + c);
        return false;
    }
    const long n = std::stol(c);
    CheckEntries(keys, n, errors);
    for (const auto& [key, entry] : keys) {
        const bool indexed = key.rfind("name", 0) == 0 || key.rfind("ip", 0) == 0;
        const std::string digits = key.substr(key[0] == 'n' ? 4 : 2);
        if (indexed && !digits.empty() &&
            digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 6 &&
            std::stol(digits) >= n)
            warnings.push_back("line " + std::to_string(entry.line) + ": " + key +
                               " is past Count=" + c + ": the client does not show it");
    }
    if (!errors.empty())
        return false;
    cnv = plain;
    ScrambleText(cnv.data());
    return true;
}

std::string DecodeServerList(const std::string& cnv, std::vector<std::string>& warnings) {
    std::string plain;
    for (std::size_t at = 0; at < cnv.size(); at += kBlock) {
        std::string block = cnv.substr(at, kBlock);
        const std::size_t zero = block.find('\0');
        if (zero != std::string::npos)
            warnings.push_back("a zero byte at offset " + std::to_string(at + zero) +
                               ": the client leaves the rest of its 256-byte block scrambled");
        UnscrambleText(block.data());
        plain += block;
    }
    return plain;
}

} // namespace tvserver
