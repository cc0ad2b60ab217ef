// CAsyncSocket / CSocket over real loopback connections, driven by the real
// event loop inside a modal run.
// NOTE: the C library's socket headers come first (platform/socket.h then
// leaves their SOCK_STREAM alone), and <arpa/inet.h> is not included: its
// inet_addr would clash with the Windows Sockets one.
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/afx.h"
#include "platform/host/frontend.h"
#include "platform/host/syscall_faults.h"
#include "platform/host/syscalls.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT kLoopDlg = 950;
const DialogTemplate kLoopTemplate[] = {
    {kLoopDlg, "Loop", 100, 50, "", 9, 0x90C800C0, 0, nullptr, 0}};
const ResourceTable kTable = {kLoopTemplate, 1, nullptr, 0, nullptr, 0};

// A modal run to drive the loop; a watchdog ends it if a test hangs.
class LoopDlg : public CDialog {
  public:
    LoopDlg() : CDialog(kLoopDlg) {}
    std::function<void(LoopDlg&)> init;
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (init)
            init(*this);
        return TRUE;
    }
    INT_PTR Run() {
        std::mutex mu;
        std::condition_variable cv;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock lock(mu);
            if (!cv.wait_for(lock, std::chrono::seconds(10), [&] { return done; }))
                EndDialog(-99);
        });
        INT_PTR r = DoModal();
        {
            std::lock_guard lock(mu);
            done = true;
        }
        cv.notify_all();
        watchdog.join();
        return r;
    }
};

// A listening loopback socket; the test's server side runs on its own thread.
class Listener {
  public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    int Accept() { return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC); }
    UINT port = 0;

  private:
    int m_fd;
};

void SendAllRaw(int fd, const std::string& data) {
    std::size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += static_cast<std::size_t>(n);
    }
}

void ResetClose(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

// Records its notifications; receives at most `chunk` bytes per OnReceive.
class RecordingSocket : public CSocket {
  public:
    std::vector<std::string> events;
    std::string received;
    int chunk = 3;
    std::function<void(RecordingSocket&)> onClose;
    std::function<bool(RecordingSocket&)> onReceive; // true: handled

    void OnReceive(int) override {
        if (onReceive && onReceive(*this))
            return;
        char buf[4096];
        int n = Receive(buf, chunk);
        events.push_back("receive " + std::to_string(n));
        if (n > 0)
            received.append(buf, static_cast<std::size_t>(n));
    }
    void OnClose(int nErrorCode) override {
        events.push_back("close " + std::to_string(nErrorCode));
        if (onClose)
            onClose(*this);
    }
};

class SocketTest : public testing::Test {
  protected:
    void SetUp() override {
        AfxSetResources(kTable);
        tvhost::InstallRecordingFrontEnd();
        ASSERT_TRUE(AfxSocketInit());
    }
    // Seams go back to their defaults whatever a test did or where it stopped.
    void TearDown() override {
        tvhost::ResetSyscalls();
        tvhost::SetConnectTimeoutMs(20000);
        tvhost::SetSocketInitFails(false);
    }
};

// True once fd has bytes to read (or the peer has gone); false after 5 s.
bool WaitReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 5000) == 1;
}

TEST_F(SocketTest, ReceiveIsLevelTriggeredOneReceivePerNotification) {
    Listener server;
    std::thread peer([&] {
        int fd = server.Accept();
        SendAllRaw(fd, "0123456789");
        ::close(fd);
    });
    RecordingSocket s;
    LoopDlg dlg;
    s.onClose = [&](RecordingSocket&) { dlg.EndDialog(1); };
    dlg.init = [&](LoopDlg&) {
        ASSERT_TRUE(s.Create());
        ASSERT_TRUE(s.Connect("127.0.0.1", server.port));
    };
    EXPECT_EQ(dlg.Run(), 1);
    peer.join();
    EXPECT_EQ(s.received, "0123456789");
    EXPECT_EQ(s.events, (std::vector<std::string>{"receive 3", "receive 3", "receive 3",
                                                  "receive 1", "close 0"}));
}

TEST_F(SocketTest, CloseCarriesZeroForOrderlyCloseAndTheResetNumberOtherwise) {
    for (bool reset : {false, true}) {
        Listener server;
        std::thread peer([&] {
            int fd = server.Accept();
            char c;
            ::recv(fd, &c, 1, 0); // wait until the client has spoken
            reset ? ResetClose(fd) : (void)::close(fd);
        });
        RecordingSocket s;
        LoopDlg dlg;
        s.onClose = [&](RecordingSocket&) { dlg.EndDialog(1); };
        dlg.init = [&](LoopDlg&) {
            ASSERT_TRUE(s.Create());
            ASSERT_TRUE(s.Connect("127.0.0.1", server.port));
            EXPECT_EQ(s.Send("x", 1), 1);
        };
        EXPECT_EQ(dlg.Run(), 1);
        peer.join();
        EXPECT_EQ(s.events, std::vector<std::string>{reset ? "close 10054" : "close 0"});
    }
}

TEST_F(SocketTest, NotificationsArrivingDuringBlockingCallsAreHeldUntilTheyReturn) {
    Listener quick, slow;
    std::string big(8 << 20, 'b');
    std::thread quickPeer([&] {
        int fd = quick.Accept();
        SendAllRaw(fd, "hello");
        char c;
        ::recv(fd, &c, 1, 0);
        ::close(fd);
    });
    std::thread slowPeer([&] {
        int fd = slow.Accept();
        std::this_thread::sleep_for(std::chrono::milliseconds(150)); // the sender blocks
        std::vector<char> buf(1 << 16);
        std::size_t total = 0;
        while (total < big.size()) {
            ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            total += static_cast<std::size_t>(n);
        }
        ::close(fd);
    });
    RecordingSocket a;
    CSocket b;
    a.chunk = 100;
    std::vector<std::string> order;
    LoopDlg dlg;
    a.onReceive = [&](RecordingSocket&) {
        order.push_back("a notified");
        return false;
    };
    a.onClose = [&](RecordingSocket&) { dlg.EndDialog(1); };
    dlg.init = [&](LoopDlg&) {
        ASSERT_TRUE(a.Create());
        ASSERT_TRUE(a.Connect("127.0.0.1", quick.port));
        ASSERT_TRUE(WaitReadable(a.m_hSocket)) << "\"hello\" never arrived";
        ASSERT_TRUE(b.Create());
        EXPECT_TRUE(b.Connect("127.0.0.1", slow.port));
        order.push_back("connected");
        EXPECT_EQ(b.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
        order.push_back("sent");
        a.Send("x", 1);
    };
    EXPECT_EQ(dlg.Run(), 1);
    quickPeer.join();
    b.Close();
    slowPeer.join();
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], "connected");
    EXPECT_EQ(order[1], "sent");
    EXPECT_EQ(order[2], "a notified");
    EXPECT_EQ(a.received, "hello");
}

TEST_F(SocketTest, NothingIsDeliveredAfterClose) {
    Listener server;
    std::thread peer([&] {
        int fd = server.Accept();
        SendAllRaw(fd, "data");
        ::close(fd);
    });
    RecordingSocket s;
    LoopDlg dlg;
    s.onReceive = [&](RecordingSocket& self) {
        self.events.push_back("receive");
        self.Close();
        dlg.PostMessage(WM_CLOSE); // ends the run after any stray notification
        return true;
    };
    dlg.init = [&](LoopDlg&) {
        ASSERT_TRUE(s.Create());
        ASSERT_TRUE(s.Connect("127.0.0.1", server.port));
        ASSERT_TRUE(WaitReadable(s.m_hSocket)) << "the data never arrived";
    };
    EXPECT_EQ(dlg.Run(), IDCANCEL);
    peer.join();
    EXPECT_EQ(s.events, std::vector<std::string>{"receive"});
    EXPECT_EQ(s.m_hSocket, INVALID_SOCKET);
}

TEST_F(SocketTest, ConnectFailures) {
    UINT refusedPort;
    {
        Listener gone;
        refusedPort = gone.port;
    }
    struct Case {
        const char* address;
        UINT port;
        int error;
    };
    // NOTE: no unknown host name here: resolving one would ask a name server
    // off this machine.
    for (Case c :
         {Case{"127.0.0.1", refusedPort, WSAECONNREFUSED}, Case{"", 43001, WSAHOST_NOT_FOUND}}) {
        CSocket s;
        ASSERT_TRUE(s.Create());
        EXPECT_FALSE(s.Connect(c.address, c.port)) << c.address;
        EXPECT_EQ(WSAGetLastError(), c.error) << c.address;
    }
}

// inet_addr reads 255.255.255.255 as its failure value; that text is still
// an address, connected to at once and not looked up as a name (a thread
// started and waited for, to give the same address back).
TEST_F(SocketTest, BroadcastAddressIsNotLookedUpAsAName) {
    tvhost::FailNthCall<&tvhost::Syscalls::getaddrinfo> lookup(1, 0, EAI_FAIL);
    CSocket s;
    ASSERT_TRUE(s.Create());
    EXPECT_FALSE(s.Connect("255.255.255.255", 43001));
    EXPECT_EQ(lookup.Calls(), 0);
    EXPECT_NE(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST_F(SocketTest, ConnectToAnAddressThatNeverAnswersGivesUp) {
    // A listener whose accept queue is full drops further connection requests:
    // the second connect hears nothing, as from a dead address.
    int lfd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(lfd, 0);
    socklen_t len = sizeof a;
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    tvhost::SetConnectTimeoutMs(300);
    CSocket s;
    ASSERT_TRUE(s.Create());
    EXPECT_FALSE(s.Connect("127.0.0.1", ntohs(a.sin_port)));
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    ::close(filler);
    ::close(lfd);
}

TEST_F(SocketTest, InjectedConnectFailureIsReported) {
    tvhost::syscalls.connect = [](int, const sockaddr*, socklen_t) -> int {
        errno = ECONNREFUSED;
        return -1;
    };
    CSocket s;
    ASSERT_TRUE(s.Create());
    EXPECT_FALSE(s.Connect("127.0.0.1", 1));
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(SocketTest, InjectedBindAndNameFailuresAreReported) {
    {
        tvhost::FailNthCall<&tvhost::Syscalls::bind> fault(1, EADDRINUSE);
        CAsyncSocket s;
        EXPECT_FALSE(s.Create(4000, SOCK_STREAM, FD_READ, "127.0.0.1"));
        EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
        EXPECT_EQ(s.m_hSocket, INVALID_SOCKET);
    }
    tvhost::FailNthCall<&tvhost::Syscalls::getsockname> fault(1, ENOBUFS);
    CAsyncSocket s;
    ASSERT_TRUE(s.Create());
    SOCKADDR_IN name{};
    int len = sizeof name;
    EXPECT_FALSE(s.GetSockName(reinterpret_cast<SOCKADDR*>(&name), &len));
    EXPECT_EQ(WSAGetLastError(), WSAENOBUFS);
}

TEST_F(SocketTest, HostNameResolvesAndLocalNameIsInNetworkOrder) {
    Listener server;
    std::thread peer([&] { ::close(server.Accept()); });
    CSocket s;
    ASSERT_TRUE(s.Create());
    ASSERT_TRUE(s.Connect("localhost", server.port));
    SOCKADDR_IN name{};
    int len = sizeof name;
    ASSERT_TRUE(s.GetSockName(reinterpret_cast<SOCKADDR*>(&name), &len));
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&name.sin_addr.S_un.S_addr);
    EXPECT_EQ(std::vector<int>(b, b + 4), (std::vector<int>{127, 0, 0, 1}));
    EXPECT_STREQ(inet_ntoa(name.sin_addr), "127.0.0.1");
    peer.join();
}

TEST_F(SocketTest, SocketInitFailureSeam) {
    tvhost::SetSocketInitFails(true);
    EXPECT_FALSE(AfxSocketInit());
    tvhost::SetSocketInitFails(false);
    WSADATA data;
    EXPECT_TRUE(AfxSocketInit(&data));
    EXPECT_EQ(data.wVersion, 0x0101);
}

TEST(WinsockAddress, InetAddrFollowsWindowsSemantics) {
    struct Case {
        const char* text;
        std::vector<int> bytes; // empty: INADDR_NONE
    };
    const Case cases[] = {
        {"127.0.0.1", {127, 0, 0, 1}},
        {"10.1.2.3", {10, 1, 2, 3}},
        {"0x7f.1", {127, 0, 0, 1}},
        {"1.2.3", {1, 2, 0, 3}},
        {"010.0.0.1", {8, 0, 0, 1}},
        {"", {}},
        {"256.1.1.1", {}},
        {"1.2.3.4.5", {}},
        {"1.2.3.x", {}},
        {"server.example", {}},
        {"1..2.3", {}},
    };
    for (const Case& c : cases) {
        ULONG a = inet_addr(c.text);
        if (c.bytes.empty()) {
            EXPECT_EQ(a, INADDR_NONE) << c.text;
            continue;
        }
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&a);
        EXPECT_EQ(std::vector<int>(b, b + 4), c.bytes) << c.text;
    }
    IN_ADDR none;
    none.S_un.S_addr = INADDR_NONE;
    EXPECT_STREQ(inet_ntoa(none), "255.255.255.255");
}

} // namespace
