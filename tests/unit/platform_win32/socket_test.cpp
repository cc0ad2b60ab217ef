// CAsyncSocket / CSocket over WSAAsyncSelect against a real loopback peer on
// a helper thread: one receive per notification, the orderly close after the
// data, notifications held while a blocking call waits, nothing after Close.
#include "listener.h"
#include "platform/afx.h"
#include "robot.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

void SendAllBlocking(SOCKET s, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        const int n = send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void DrainBlocking(SOCKET s) {
    char buf[65536];
    while (recv(s, buf, sizeof buf, 0) > 0) {
    }
}

class TestSocket : public CSocket {
  public:
    std::function<void(TestSocket&)> onReceive;
    std::function<void(TestSocket&, int)> onClose;
    int notifications = 0;
    std::string received;

    // One receive of at most n bytes, as the client's receive pass does.
    int ReceiveSome(int n) {
        std::string buf(static_cast<size_t>(n), '\0');
        const int got = Receive(buf.data(), n);
        if (got > 0)
            received.append(buf.data(), static_cast<size_t>(got));
        return got;
    }
    void OnReceive(int) override {
        ++notifications;
        if (onReceive)
            onReceive(*this);
        else
            ReceiveSome(2048);
    }
    void OnClose(int nErrorCode) override {
        if (onClose)
            onClose(*this, nErrorCode);
    }
};

class SocketTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(AfxSocketInit()); }

    static void Connect(TestSocket& s, UINT port) {
        ASSERT_TRUE(s.Create());
        ASSERT_TRUE(s.Connect("127.0.0.1", port)) << WSAGetLastError();
    }
};

TEST_F(SocketTest, ReceiveIsLevelTriggeredOneReceivePerNotification) {
    Listener peer;
    robot::Helper server([&] {
        SOCKET c = peer.Accept();
        SendAllBlocking(c, std::string(5000, 'd'));
        DrainBlocking(c);
        closesocket(c);
    });
    TestSocket s;
    Connect(s, peer.Port());
    EXPECT_TRUE(robot::PumpUntil([&] { return s.received.size() == 5000; }));
    EXPECT_GE(s.notifications, 3) << "at most 2048 bytes per notification";
    s.Close();
}

// The peer closes right after its last bytes; the close is delivered only
// once they have all been read, however slowly the client reads.
TEST_F(SocketTest, OrderlyCloseComesAfterTheDataBeforeIt) {
    Listener peer;
    robot::Helper server([&] {
        SOCKET c = peer.Accept();
        SendAllBlocking(c, std::string(6000, 'e'));
        shutdown(c, SD_SEND);
        Sleep(200);
        closesocket(c);
    });
    TestSocket s;
    size_t atClose = 0;
    int closeCode = -1;
    s.onReceive = [](TestSocket& t) { t.ReceiveSome(1000); };
    s.onClose = [&](TestSocket& t, int code) {
        atClose = t.received.size();
        closeCode = code;
    };
    Connect(s, peer.Port());
    Sleep(300); // everything, the close included, is queued before the first delivery
    EXPECT_TRUE(robot::PumpUntil([&] { return closeCode != -1; }));
    EXPECT_EQ(atClose, 6000u);
    EXPECT_EQ(closeCode, 0);
    s.Close();
}

TEST_F(SocketTest, NotificationsArrivingDuringABlockingSendAreHeldUntilItReturns) {
    Listener peer;
    std::atomic<bool> sendDone{false};
    robot::Helper server([&] {
        SOCKET a = peer.Accept();
        SOCKET b = peer.Accept();
        const int small = 16384;
        setsockopt(b, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&small), sizeof small);
        Sleep(100);
        SendAllBlocking(a, "ping"); // arrives while the client is stuck in b's Send
        Sleep(300);
        DrainBlocking(b);
        closesocket(b);
        closesocket(a);
    });
    TestSocket a, b;
    Connect(a, peer.Port());
    Connect(b, peer.Port());
    const int small = 16384; // so that a few hundred kilobytes fill the way
    setsockopt(b.m_hSocket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small),
               sizeof small);
    bool heldWhileSending = true;
    a.onReceive = [&](TestSocket& t) {
        heldWhileSending = heldWhileSending && !b.IsBlocking();
        t.ReceiveSome(2048);
    };
    const std::string big(1 << 20, 'x'); // far more than the socket buffers take
    EXPECT_EQ(b.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
    EXPECT_EQ(a.notifications, 0) << "held, not delivered inside Send";
    b.Close();
    EXPECT_TRUE(robot::PumpUntil([&] { return a.received == "ping"; }));
    EXPECT_TRUE(heldWhileSending);
    a.Close();
}

// Notifications already queued for a closed socket reach nobody, not even a
// new socket that gets the same handle value.
TEST_F(SocketTest, NothingIsDeliveredAfterClose) {
    Listener peer;
    robot::Helper server([&] {
        SOCKET c = peer.Accept();
        SendAllBlocking(c, "stale data");
        Sleep(100);
        closesocket(c);
        SOCKET d = peer.Accept(); // the second connection gets nothing
        DrainBlocking(d);
        closesocket(d);
    });
    TestSocket first;
    Connect(first, peer.Port());
    Sleep(300); // FD_READ and FD_CLOSE are queued now
    first.Close();
    TestSocket second;
    Connect(second, peer.Port());
    robot::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(first.notifications, 0);
    EXPECT_EQ(second.notifications, 0);
    second.Close();
}

TEST_F(SocketTest, ConnectFailuresReportTheWindowsSocketsError) {
    UINT port;
    {
        Listener closed;
        port = closed.Port();
    }
    TestSocket s;
    ASSERT_TRUE(s.Create());
    EXPECT_FALSE(s.Connect("127.0.0.1", port));
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    s.Close();
    ASSERT_TRUE(s.Create());
    EXPECT_FALSE(s.Connect("", port)) << "an empty address is no address";
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST_F(SocketTest, HostNameResolvesAndTheLocalNameIsInNetworkOrder) {
    Listener peer;
    robot::Helper server([&] {
        SOCKET c = peer.Accept();
        DrainBlocking(c);
        closesocket(c);
    });
    TestSocket s;
    ASSERT_TRUE(s.Create());
    ASSERT_TRUE(s.Connect("localhost", peer.Port())) << WSAGetLastError();
    SOCKADDR_IN local = {};
    int len = sizeof local;
    ASSERT_TRUE(s.GetSockName(reinterpret_cast<SOCKADDR*>(&local), &len));
    EXPECT_EQ(local.sin_addr.S_un.S_addr, 0x0100007Fu);
    s.Close();
}

} // namespace
