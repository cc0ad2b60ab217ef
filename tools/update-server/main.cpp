// torvane-update-server: serves published snapshots of a content directory
// to update clients, publishes them, and makes Server.cnv files. A Linux
// tool; it shares only the wire definitions and a few client routines.
#include "gzip_encoder.h"
#include "help.h"
#include "publish.h"
#include "server.h"
#include "server_list.h"
#include "store_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char kProgram[] = "torvane-update-server";

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "%s: error: %s\n", kProgram, message.c_str());
    std::fprintf(stderr, "(%s --help lists the subcommands and options)\n", kProgram);
    std::exit(2);
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "%s: warning: %s\n", kProgram, message.c_str());
}

long Number(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        Fail(option + " takes a number from " + std::to_string(low) + " to " +
             std::to_string(high) + ": " + text);
    return v;
}

tvserver::ServeOptions ParseServe(const std::vector<std::string>& args) {
    tvserver::ServeOptions o;
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                Fail(a + " needs a value");
            return args[++i];
        };
        if (a == "--once")
            o.once = true;
        else if (a == "--limit-loopback")
            o.limitLoopback = true;
        else if (a == "--no-redirect")
            o.noRedirect = true;
        else if (a == "--bind")
            o.bindAddr = value();
        else if (a == "--port")
            o.port = static_cast<unsigned>(Number(a, value(), 0, 65535));
        else if (a == "--threads")
            o.threads = static_cast<int>(Number(a, value(), 1, cores));
        else if (a == "--max-connections")
            o.maxConnections = static_cast<int>(Number(a, value(), 1, 1000000));
        else if (a == "--max-per-address")
            o.maxPerAddress = static_cast<int>(Number(a, value(), 0, 1000000));
        else if (a == "--request-timeout")
            o.requestTimeoutMs = static_cast<int>(Number(a, value(), 1, 3600) * 1000);
        else if (a == "--stall-timeout")
            o.stallTimeoutMs = static_cast<int>(Number(a, value(), 1, 3600) * 1000);
        else if (a == "--grace")
            o.graceMs = static_cast<int>(Number(a, value(), 0, 3600) * 1000);
        else if (a == "--status-interval")
            o.statusIntervalS = static_cast<int>(Number(a, value(), 0, 86400));
        else if (!a.empty() && a[0] != '-' && o.contentDir.empty())
            o.contentDir = a;
        else
            Fail("bad argument: " + a);
    }
    if (o.contentDir.empty())
        Fail("no content directory given");
    return o;
}

int RunPublish(const std::vector<std::string>& args) {
    tvserver::PublishOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--no-switch") {
            o.notify = false;
        } else if (a == "--level" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            o.level = v == "best" ? tvserver::kGzipBestLevel : static_cast<int>(Number(a, v, 1, 9));
        } else if (!a.empty() && a[0] != '-' && o.contentDir.empty()) {
            o.contentDir = a;
        } else {
            Fail("bad argument: " + a);
        }
    }
    if (o.contentDir.empty())
        Fail("no content directory given");
    tvserver::PublishReport report{[](const std::string& s) { std::printf("%s\n", s.c_str()); },
                                   Warn};
    std::vector<std::string> errors;
    if (tvserver::Publish(o, report, errors))
        return 0;
    for (const std::string& e : errors)
        std::fprintf(stderr, "%s: error: %s\n", kProgram, e.c_str());
    std::fprintf(stderr, "%s: nothing was published\n", kProgram);
    return 2;
}

bool WriteOut(const std::string& path, const std::string& data) {
    if (path == "-")
        return std::fwrite(data.data(), 1, data.size(), stdout) == data.size();
    // Beside the target first, so a failure leaves the old file as it was.
    const std::string tmp = path + ".tmp";
    std::string error;
    if (!tvserver::WriteFileSynced(tmp, data, error) ||
        std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        Fail(error.empty() ? "cannot write " + path + ": " + std::strerror(errno) : error);
    }
    return true;
}

int RunServerList(const std::vector<std::string>& args) {
    const bool decode = !args.empty() && args[0] == "--decode";
    const std::size_t first = decode ? 1 : 0;
    if (args.size() != first + 2)
        Fail("server-list takes an input and an output file");
    std::string input;
    if (!tvserver::ReadSmallFile(args[first], input))
        Fail("cannot read " + args[first] + ": " + std::strerror(errno));
    std::vector<std::string> errors, warnings;
    std::string output;
    if (decode) {
        output = tvserver::DecodeServerList(input, warnings);
    } else if (!tvserver::EncodeServerList(input, output, errors, warnings)) {
        for (const std::string& e : errors)
            std::fprintf(stderr, "%s: error: %s: %s\n", kProgram, args[first].c_str(), e.c_str());
        return 2;
    }
    for (const std::string& w : warnings)
        Warn(args[first] + ": " + w);
    WriteOut(args[first + 1], output);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(tvserver::HelpText(), stdout);
            return 0;
        }
    const std::string command = args.empty() ? "" : args[0];
    if (command == "publish")
        return RunPublish({args.begin() + 1, args.end()});
    if (command == "server-list")
        return RunServerList({args.begin() + 1, args.end()});
    if (command == "serve")
        args.erase(args.begin());
    return tvserver::Serve(ParseServe(args));
}
