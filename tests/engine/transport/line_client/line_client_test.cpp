// The line client against a scripted server: over-long lines, the rule that
// no reply is read while a command is still going out, output in pieces,
// the local address and connect failures. (Replies cut into odd segments,
// stalls and closes are tested where they matter, in the POP3 sessions.)
#include "engine/transport/line_client/line_client.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "tests/engine/transport/fake_server.h"

namespace corvane::transport {
namespace {

using namespace std::chrono_literals;
using testing::FakeConnection;
using testing::FakeServer;

class Recorder : public LineClient {
public:
    explicit Recorder(std::size_t max_line = 4096) : LineClient(max_line) {}

    std::vector<std::string> lines;
    std::string pieces;  // on_line_piece() input, when taken
    bool take_pieces = false;
    bool closed = false;
    bool overflow = false;
    int receive_error = 0;
    bool read_while_sending = false;
    std::size_t finish_after = 0;  // finish() after this many lines
    std::function<void(Recorder&, std::string_view)> reply;
    std::function<void(Recorder&)> sent;

    using LineClient::send;

protected:
    void on_line(std::string_view line) override
    {
        if (sending())
            read_while_sending = true;
        lines.emplace_back(line);
        if (reply)
            reply(*this, line);
        if (finish_after && lines.size() >= finish_after)
            finish();
    }
    void on_close() override { closed = true; }
    void on_receive_error(int error) override { receive_error = error; }
    void on_overflow() override { overflow = true; }
    void on_sent() override
    {
        if (sent)
            sent(*this);
    }
    bool on_line_piece(std::string_view piece) override
    {
        if (!take_pieces)
            return false;
        pieces.append(piece);
        return true;
    }
};

std::vector<std::string> run_against(const std::string& bytes, std::size_t chunk, Recorder& client)
{
    FakeServer server([&](FakeConnection& c) {
        c.write_in_pieces(bytes, chunk, 1);
        c.wait_for_close(3000);
    });
    EXPECT_TRUE(client.connect("127.0.0.1", server.port(), "", 2s).ok());
    client.run(3s);
    client.close();
    return client.lines;
}

TEST(LineClientTest, LineLongerThanTheLimitEndsTheSessionUnlessTakenInPieces)
{
    struct Case {
        std::string name;
        std::string bytes;
        bool take_pieces;
        bool want_overflow;
    };
    std::string long_line(10000, 'x');
    const std::vector<Case> cases = {
        {"endless line", long_line, false, true},
        {"whole long line in one segment", long_line + "\r\n", false, true},
        {"line of exactly the limit", std::string(64, 'y') + "\r\n", false, false},
        {"long line taken in pieces", long_line + "\r\nafter\r\n", true, false},
    };
    for (const auto& c : cases) {
        Recorder client(64);
        client.take_pieces = c.take_pieces;
        client.finish_after = c.take_pieces ? 2 : 1;
        run_against(c.bytes, 1500, client);
        EXPECT_EQ(client.overflow, c.want_overflow) << c.name;
        if (c.take_pieces) {
            ASSERT_EQ(client.lines.size(), 2u) << c.name;
            EXPECT_EQ(client.pieces + client.lines[0], long_line) << c.name;
            EXPECT_EQ(client.lines[1], "after") << c.name;
        }
    }
}

TEST(LineClientTest, ReplyToACommandStillBeingSentWaitsForTheCommand)
{
    // The server answers after the first bytes of a large command and only
    // then reads the rest slowly, so the answer is there long before the
    // command has gone out.
    const std::string command = "BIG " + std::string(8u << 20, 'a') + "\r\n";
    std::size_t server_got = 0;
    FakeServer server([&](FakeConnection& c) {
        c.write("+OK greeting\r\n");
        server_got = c.read_bytes(16).size();
        c.write("+OK early answer\r\n");
        std::this_thread::sleep_for(100ms);
        server_got += c.read_bytes(command.size() - 16, 10000).size();
        c.write("+OK bye\r\n");
        c.wait_for_close(3000);
    });
    Recorder client;
    client.finish_after = 3;
    client.reply = [&](Recorder& self, std::string_view line) {
        if (line == "+OK greeting")
            self.send(command);
    };
    ASSERT_TRUE(client.connect("127.0.0.1", server.port(), "", 2s).ok());
    EXPECT_EQ(client.run(5s), LineClient::Ended::done);
    client.close();
    server.join();
    EXPECT_EQ(server_got, command.size());
    EXPECT_EQ(client.lines, (std::vector<std::string>{"+OK greeting", "+OK early answer", "+OK bye"}));
    EXPECT_FALSE(client.read_while_sending);
}

TEST(LineClientTest, OutputInPiecesFollowsOnSent)
{
    std::string received;
    FakeServer server([&](FakeConnection& c) {
        c.write("go\r\n");
        std::string line;
        while (c.read_line(line, 3000) && line != "END")
            received += line + "|";
        c.write("done\r\n");
        c.wait_for_close(3000);
    });
    Recorder client;
    int next = 0;
    client.reply = [](Recorder& self, std::string_view line) {
        if (line == "go")
            self.send("piece 0\r\n");
        if (line == "done")
            self.finish();
    };
    client.sent = [&](Recorder& self) {
        if (++next < 5)
            self.send("piece " + std::to_string(next) + "\r\n");
        else if (next == 5)
            self.send("END\r\n");
    };
    ASSERT_TRUE(client.connect("127.0.0.1", server.port(), "", 2s).ok());
    EXPECT_EQ(client.run(3s), LineClient::Ended::done);
    client.close();
    server.join();
    EXPECT_EQ(received, "piece 0|piece 1|piece 2|piece 3|piece 4|");
}

TEST(LineClientTest, ConnectsFromTheBindAddressOnlyWhenItIsOne)
{
    struct Case {
        std::string bind;
        std::string want_peer;
    };
    for (const Case& c : std::vector<Case>{
             {"127.0.0.2", "127.0.0.2"}, {"0.0.0.0", "127.0.0.1"}, {"", "127.0.0.1"}, {"garbage", "127.0.0.1"}}) {
        FakeServer server([](FakeConnection& conn) { conn.write("+OK\r\n"); });
        Recorder client;
        client.finish_after = 1;
        ASSERT_TRUE(client.connect("127.0.0.1", server.port(), c.bind, 2s).ok()) << c.bind;
        client.run(2s);
        client.close();
        server.join();
        ASSERT_EQ(server.peers().size(), 1u);
        EXPECT_EQ(server.peers()[0], c.want_peer) << "bind " << c.bind;
    }
}

TEST(LineClientTest, ConnectFailuresCarryTheErrno)
{
    int port = 0;
    {
        FakeServer gone([](FakeConnection&) {}, 0);
        port = gone.port();
    }  // nothing listens there any more
    Recorder client;
    auto result = client.connect("127.0.0.1", port, "", 2s);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, ECONNREFUSED);
    EXPECT_EQ(client.last_error(), ECONNREFUSED);
    EXPECT_FALSE(client.connect("127.0.0.1", 0, "", 2s).ok());
    EXPECT_FALSE(client.connect("127.0.0.1", 70000, "", 2s).ok());
}

}  // namespace
}  // namespace corvane::transport
