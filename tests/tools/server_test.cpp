// server_test.cpp - morlaken_server on 127.0.0.1 (ephemeral port) and ENet clients of the
// test's own: its files from the working folder, refusals by reason and malformed requests,
// slots are not held, failures count per account, names reach the console escaped.
#include "../tools/devhost/accounts.h"
#include "login/wire.h"
#include "support/devhost.h"

#include <enet/enet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

struct EnetUp : ::testing::Environment {
    void SetUp() override { ASSERT_EQ(enet_initialize(), 0); }
};
const auto* const kEnet = ::testing::AddGlobalTestEnvironment(new EnetUp);

// A launcher-like ENet client: sends `message` once connected (nothing when empty), keeps
// the answer and sees the connection end.
struct Client {
    Client(int port, std::string text) : message(std::move(text)) {
        host = enet_host_create(nullptr, 1, 2, 0, 0);
        host->mtu = 1200;
        host->checksum = enet_crc32;
        ENetAddress address{};
        enet_address_set_host(&address, "127.0.0.1");
        address.port = static_cast<enet_uint16>(port);
        peer = enet_host_connect(host, &address, 2, 0);
    }
    ~Client() { enet_host_destroy(host); }
    bool pumpUntilGone() {
        for (ENetEvent e; enet_host_service(host, &e, 0) > 0;) {
            if (e.type == ENET_EVENT_TYPE_CONNECT && !message.empty())
                enet_peer_send(peer, 0,
                               enet_packet_create(message.data(), message.size(), ENET_PACKET_FLAG_RELIABLE));
            if (e.type == ENET_EVENT_TYPE_RECEIVE) {
                answer.assign(reinterpret_cast<const char*>(e.packet->data), e.packet->dataLength);
                enet_packet_destroy(e.packet);
            }
            gone = gone || e.type == ENET_EVENT_TYPE_DISCONNECT;
        }
        return gone;
    }
    std::string message, answer;
    bool gone = false;
    ENetHost* host;
    ENetPeer* peer;
};

// Pumps every client until each is gone (the server ends every connection).
bool untilAllGone(std::vector<Client*> clients) {
    return waitUntil(
        [&] {
            bool all = true;
            for (Client* c : clients)
                all = c->pumpUntilGone() && all;
            return all;
        },
        20);
}

// The refusal reason an answer carries; 0 for any other answer.
uint8_t refusalIn(const std::string& answer) {
    return answer.size() >= 2 && answer[0] == wire::kLoginRefused ? static_cast<uint8_t>(answer[1]) : 0;
}

// morlaken_server started as the launcher starts its local server, with no file options, in
// a folder holding its users file (account "ayse" / "ayse@example.com" and "oyunda", both
// with password "gizli", "oyunda" in game) and its news file.
class GameServerTool : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string hash = devhost::hashPassword("gizli", 1000);
        writeFile(dir / "sunucu_kullanicilari.txt",
                  "ayse|ayse@example.com|" + hash + "||1|\noyunda||" + hash + "||1|\n");
        writeFile(dir / "sunucu_haberleri.txt", "# yorum\nDuyuru|Yerel sunucu|Dosyadan okundu.\n");
        ASSERT_TRUE(server.start({"--port", "0", "--in-game", "oyunda"}, "morlaken_server", dir.path()));
    }
    std::string ask(const std::string& request) {
        Client client(server.port(), request);
        EXPECT_TRUE(untilAllGone({&client}));
        return client.answer;
    }
    uint8_t refusal(const std::string& user, const std::string& password) {
        return refusalIn(ask(wire::encodeLoginRequest(user, password)));
    }
    TempFolder dir;
    DevHost server;
};

// Each refusal has its reason, a malformed request its rejection; without a users file in
// its folder every login is refused.
TEST_F(GameServerTool, RefusalsByReasonAndWithoutAUsersFile) {
    EXPECT_NE(server.output().find("kullanıcılar: sunucu_kullanicilari.txt (2 hesap)"), std::string::npos);
    EXPECT_EQ(ask(wire::encodeLoginRequest("ayse", "gizli")).at(0), wire::kLoginAccepted);
    EXPECT_EQ(refusalIn(ask(wire::encodeLoginRequest("ayse", "gizli", 4))), wire::kRefusedOldLauncher);
    EXPECT_EQ(refusal("oyunda", "gizli"), wire::kRefusedInGame);
    for (const std::string& bad :
         {std::string("\x0A\x05", 2), std::string("\x0D\x00", 2), std::string("\x42")}) {
        const wire::Rejected rejected = wire::decodeRejected(ask(bad));
        EXPECT_TRUE(rejected.ok && !rejected.reason.empty()) << bad.size();
    }

    TempFolder empty;
    DevHost bare;
    ASSERT_TRUE(bare.start({"--port", "0"}, "morlaken_server", empty.path()));
    Client probe(bare.port(), wire::encodeProbeRequest()),
        login(bare.port(), wire::encodeLoginRequest("ayse", "gizli"));
    ASSERT_TRUE(untilAllGone({&probe, &login}));
    EXPECT_EQ(probe.answer, wire::encodeNewsAnswer({}));
    EXPECT_EQ(refusalIn(login.answer), wire::kRefusedCredentials);
    EXPECT_NE(bare.output().find("kullanıcı dosyası yok (sunucu_kullanicilari.txt)"), std::string::npos)
        << bare.output();
}

// A peer that sends nothing, or a packet longer than any message, is cut off within a few
// seconds and gets no answer; a probe beside them is answered as usual.
TEST_F(GameServerTool, PeersThatHoldASlotAreCutOff) {
    Client silent(server.port(), ""),
        oversized(server.port(), wire::encodeProbeRequest() + std::string(65536, 'x')),
        probe(server.port(), wire::encodeProbeRequest());
    ASSERT_TRUE(untilAllGone({&silent, &oversized, &probe}));
    EXPECT_EQ(silent.answer, "");
    EXPECT_EQ(oversized.answer, "") << "a 64 KiB packet is never assembled";
    EXPECT_EQ(probe.answer, wire::encodeNewsAnswer({{"Duyuru", "Yerel sunucu", "Dosyadan okundu."}}));
    EXPECT_NE(server.output().find("sessiz bağlantı kesildi"), std::string::npos) << server.output();
}

// Failed logins count per account, whether it was named by its name or its e-mail; a name
// that no account has is limited the same way. Names reach the console with control bytes, C1
// controls and stray bytes escaped; Turkish letters stay.
TEST_F(GameServerTool, FailuresCountPerAccountAndNamesArePrintedEscaped) {
    for (const char* user : {"ayse", "ayse@example.com", "ayse", "ayse@example.com", "ayse"})
        EXPECT_EQ(refusal(user, "yanlis"), 1) << user;
    EXPECT_EQ(refusal("ayse@example.com", "gizli"), 3);
    EXPECT_EQ(refusal("ayse", "gizli"), 3);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(refusal("kimse", "yanlis"), 1);
    EXPECT_EQ(refusal("kimse", "yanlis"), 3);

    EXPECT_EQ(refusal("a\x1b[2J\x07\\b\xc2\x9b\x9b\x7fş", "x"), 1);
    const std::string out = server.output();
    EXPECT_NE(out.find("giriş a\\x1b[2J\\x07\\\\b\\xc2\\x9b\\x9b\\x7fş -> hatalı şifre"), std::string::npos)
        << out;
    for (char control : {'\x1b', '\x07', '\x7f', '\x9b'})
        EXPECT_EQ(out.find(control), std::string::npos) << static_cast<int>(control);
}

} // namespace
