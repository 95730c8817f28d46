#include <gtest/gtest.h>

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "acerto/host/consiste.h"
#include "acerto/host/errors.h"
#include "acerto/host/net_connection.h"
#include "acerto/platform/packet.h"

using namespace acerto;
using namespace acerto::host;
using nlohmann::json;

namespace {

// A real HTTP server on a loopback port speaking the application server's envelope.
struct LoopbackServer {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    int calls = 0;
    LoopbackServer() {
        server.Get("/QLM01200.rdmAcertoFinal", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(R"({"server":"QLM01200.rdmAcertoFinal"})", "application/json");
        });
        server.Post(R"(/QLM01200.rdmAcertoFinal/(\w+))", [this](const httplib::Request& req, httplib::Response& r) {
            ++calls;
            std::string method = req.matches[1];
            json args = json::parse(req.body);
            if (method == "Echo")
                r.set_content(json{{"result", args}}.dump(), "application/json");
            else if (method == "Refuse")
                r.set_content(R"({"error":"N_PARAM_TPCTREC|05"})", "application/json");
            else if (method == "Garbage")
                r.set_content("<html>", "text/html");
            else
                r.set_content(R"({"error":"Método desconhecido: )" + method + "\"}", "application/json");
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        server.stop();
        thread.join();
    }
};

}  // namespace

TEST(TNetConnection, BeforeConnectSetsTheAddressAndCallsTravelByName) {
    LoopbackServer srv;
    TNetConnection net("netAcertoFinal");
    net.ServerName = "QLM01200.rdmAcertoFinal";
    net.Port = 1;  // replaced before connecting
    net.OnBeforeConnect = [&](TNetConnection& c) {
        c.Host = "127.0.0.1";
        c.Port = srv.port;
    };
    net.Open();
    EXPECT_TRUE(net.Connected());

    auto packet = std::make_shared<platform::DataPacket>(
        std::vector<platform::FieldDef>{{"CDFILIAL", platform::FieldType::String, 4}});
    packet->rows().push_back({platform::Variant("0001")});
    platform::Variant::Array args{platform::Variant("0001"), platform::Variant(),
                                  platform::Variant(std::shared_ptr<const platform::DataPacket>(packet))};
    ServerReply r = net.Call("Echo", args);
    ASSERT_TRUE(r.ok);
    platform::Variant payload = Consiste::CheckResultServ(r, true, 0);
    ASSERT_TRUE(payload.is_array());
    EXPECT_EQ(payload.array()[0].text(), "0001");
    EXPECT_TRUE(payload.array()[1].is_null());
    ASSERT_TRUE(payload.array()[2].is_packet());
    EXPECT_EQ(payload.array()[2].packet()->rows()[0][0].text(), "0001");

    // The server's refusal text surfaces unchanged.
    ServerReply refused = net.Call("Refuse", {});
    EXPECT_FALSE(refused.ok);
    EXPECT_THROW(
        {
            try {
                Consiste::CheckResultServ(refused, true, 0);
            } catch (const ServerError& e) {
                EXPECT_STREQ(e.what(), "N_PARAM_TPCTREC|05");
                throw;
            }
        },
        ServerError);
    ServerReply garbage = net.Call("Garbage", {});
    EXPECT_FALSE(garbage.ok);
    EXPECT_NE(garbage.error.find("Resposta inválida"), std::string::npos);
    // Many calls share one kept-alive connection and all arrive.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(net.Call("Echo", {}).ok);
    EXPECT_EQ(srv.calls, 23);
    net.Close();
    EXPECT_FALSE(net.Connected());
    EXPECT_TRUE(net.Call("Echo", {}).ok);  // a closed connection opens again
}

TEST(TNetConnection, AnUnreachableServerIsAClearConnectionError) {
    int port;
    {
        LoopbackServer srv;
        port = srv.port;
    }
    TNetConnection net;
    net.ServerName = "QLM01200.rdmAcertoFinal";
    net.Port = port;
    try {
        net.Open();
        FAIL() << "connected to nothing";
    } catch (const ConnectionError& e) {
        EXPECT_NE(std::string(e.what()).find("Não foi possível conectar ao servidor de aplicação"), std::string::npos);
    }
    EXPECT_FALSE(net.Connected());
}
