// The engine's one server call: the report method of the application server, with the query's
// name and the values of the parameters that were set. No SQL leaves the workstation.
#include "acerto/host/consiste.h"
#include "acerto/host/net_connection.h"
#include "acerto/host/report.h"

namespace acerto::host::report {

Data fetch(TNetConnection& net, const Definition& def, platform::Params& params) {
    platform::Variant::Array args{platform::Variant(def.query)};
    for (const auto& name : def.parameters) {
        const platform::Param* p = params.find(name);
        if (!p || p->value().is_null()) continue;
        args.emplace_back(name);
        args.emplace_back(p->as_string());
    }
    ServerReply reply = net.Call("GetRelatorio", args);
    return data_from_answer(Consiste::CheckResultServ(reply, true, 0));
}

}  // namespace acerto::host::report

#include "acerto/host/services.h"

namespace acerto::host::report {

std::vector<std::string> declared_parameters(const std::string& code) {
    return Definition::load(find_definition(code)).parameters;
}

Produced produce(const std::string& code, platform::Params& params) {
    Produced out;
    out.definition = Definition::load(find_definition(code));
    TNetConnection net("netRelatorio");
    net.ServerName = out.definition.server;
    net.Host = Vantiro::WebURL();
    net.Port = Vantiro::WebPort();
    out.data = fetch(net, out.definition, params);
    out.masks = {{"product", Vantiro::DBPict(0)}};
    out.document = layout(out.definition, out.data, LayoutOptions{Vantiro::Now(), Vantiro::Operador(), out.masks});
    return out;
}

}  // namespace acerto::host::report
