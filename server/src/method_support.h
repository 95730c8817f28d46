#pragma once
// What the methods of the remote data module share, whichever file they live in: the call's
// context, the checks of its arguments, packets built from queries, and the budget a
// settlement belongs to. Internal to the server.
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acerto/platform/packet.h"
#include "acerto/server/access.h"
#include "acerto/server/module.h"

namespace acerto::server {

using Args = Variant::Array;
using PacketPtr = std::shared_ptr<const platform::DataPacket>;

// What a method runs with: the module's database (for a write method, one that keeps the audit
// trail), its clock, the name it was called by, the limits of the workstations' reference
// reads, and the signed-in operator (null where no sign-in is asked for: in-process tools and
// tests).
struct Call {
    Database& db;
    const Clock& clock;
    const std::string& method;
    const ReadOptions& reads;
    const Caller* caller = nullptr;
};

// The kinds of argument a method takes: a text, a text or Null, a delta or Null, a data
// packet (rows, not a delta).
enum class Arg { Text, TextOrNull, PacketOrNull, Packet };

// Refuses (Refusal) a call whose arguments are not, in number and kind, what the method takes,
// or that carry a text with a NUL character.
void check_args(const std::string& method, const Args& args, std::initializer_list<Arg> kinds);
// A text argument, "" for Null.
std::string text_arg(const Variant& v);

// A stored value as the field's type: numbers as numbers, date-times from their ISO text.
Variant from_db(const Variant& v, platform::FieldType t);
// The rows of a query as a packet of these fields.
PacketPtr packet_of(Session& s, std::vector<platform::FieldDef> fields, const std::string& sql,
                    const std::vector<Variant>& params);
// Rows of a table, in the table's column order (its dataset's packet).
PacketPtr table_packet(Session& s, const TableDef& t, const std::string& where, const std::vector<Variant>& params,
                       const std::string& order);
Variant as_variant(PacketPtr p);

struct Budget {
    std::string branch, number, sequence, department, charging;
};

std::optional<Budget> find_budget(Session& s, const std::string& branch, const std::string& number);
// "orçamento N (filial B)", as refusals name a budget.
std::string budget_name(const std::string& branch, const std::string& number);

}  // namespace acerto::server
