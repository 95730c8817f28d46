#include "acerto/host/server_queries.h"

#include "acerto/host/services.h"
#include "acerto/platform/errors.h"

namespace acerto::host {

using platform::Variant;

ServerQueries::ServerQueries(std::string server_name) : net_("netConsultas") {
    net_.ServerName = std::move(server_name);
    // The address is read when the connection opens, so a host that changes it is followed.
    net_.OnBeforeConnect = [](TNetConnection& n) {
        n.Host = Vantiro::WebURL();
        n.Port = Vantiro::WebPort();
    };
}

platform::ResultSet ServerQueries::query(const std::string& sql, const std::vector<Variant>& params) {
    ServerReply reply = net_.Call("OpenQuery", {Variant(sql), Variant(Variant::Array(params.begin(), params.end()))});
    if (!reply.ok) throw platform::DatabaseError(reply.error);
    if (!reply.payload.is_packet() || reply.payload.packet()->is_delta())
        throw platform::DatabaseError("Resposta inválida do servidor de aplicação a uma consulta.");
    std::shared_ptr<const platform::DataPacket> packet = reply.payload.packet();
    reply.payload = Variant();
    platform::ResultSet rs;
    for (const auto& f : packet->fields()) rs.columns.push_back(f.name);
    // The reply's packet was read for this call alone: its rows are taken over, not copied (a
    // pick of thousands of products).
    if (packet.use_count() == 1)
        rs.rows = std::move(const_cast<platform::DataPacket&>(*packet).rows());
    else
        rs.rows = packet->rows();
    return rs;
}

}  // namespace acerto::host
