#include "robot.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "acerto/host/base_forms.h"
#include "acerto/host/module_loader.h"
#include "acerto/host/net_connection.h"
#include "acerto/host/report.h"
#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "acerto/host/sign_in.h"
#include "acerto/platform/form.h"
#include "acerto/platform/format.h"
#include "acerto/platform/packet.h"
#include "acerto/platform/text.h"
#include "scenario_server.h"
#include "script.h"

namespace acerto::robot {

using platform::Control;
using platform::DataSet;
using platform::Variant;

namespace {

// A failure of the scenario itself (not an error of the screen): ends the run at its line.
struct Failure {
    int line;
    std::string message;
};

struct Dialog {
    enum Kind { Question, Info, List, Screen } kind;
    std::string text;
    int rows = 0;
    bool modal = false;
    host::Cursor cursor = host::Cursor::Default;  // the host's cursor when it was shown
};

struct Pick {
    enum Kind { Row, ByValue, None } kind = None;
    int row = 0;
    std::string field, value;
    int queued_at = 0;
};

struct Answer {
    bool yes = true;
    int queued_at = 0;
};

std::string quote(const std::string& s) {
    return "\"" + s + "\"";
}

// The module, loaded once per robot process, as the desktop host loads it.
struct Module {
    host::ScreenModule m;
    void load(const std::string& path) { m.load(path); }
    void cria() { m.CriaAcertoFinal(); }
    void cria_rel() { m.CriaRelAcerto(); }
    void initialize() { m.Initialize(); }
    void finalize() { m.Finalize(); }
    platform::Form* screen() { return m.screen(); }
};

Module& module() {
    static Module m;
    return m;
}

class Scenario;

// The operator as the script plays them: queued answers and picks, recorded dialogs.
class RobotUi : public host::OperatorUi {
  public:
    explicit RobotUi(Scenario& s) : s_(s) {}
    void show_error(const std::string&) override {}
    host::ModalResult message(const std::string& text, host::MsgType type, unsigned buttons) override;
    std::optional<int> pick_list(DataSet& list, const std::string& title) override;
    void find_dialog(DataSet&) override;
    void busy(bool) override {}
    void set_cursor(host::Cursor c) override;
    void open_screen(const std::string& code, const Variant::Array& params) override;
    void show_modal(platform::Form& form) override;
    std::vector<std::string> report_parameters(const std::string& report) override;
    void run_report(const std::string& report, platform::Params& params) override;

  private:
    Scenario& s_;
};

class Scenario {
  public:
    Scenario(const std::string& path, const Options& options, std::ostream& trace)
        : path_(path), options_(options), trace_(trace), ui_(*this) {}

    Outcome run();

    // Used by the operator interface.
    int line = 0;
    int actions = 0;
    std::deque<Answer> answers;
    std::deque<Pick> picks;
    std::vector<Dialog> dialogs;  // of the last action
    // The report screen shown last, and what its last run set and produced.
    host::TfrmDadosGerRel* report_screen = nullptr;
    std::optional<std::vector<std::string>> report_names;  // as the report command names them
    std::map<std::string, std::string> report_set;
    std::optional<std::string> report_text;
    bool report_ran = false;
    host::Cursor cursor = host::Cursor::Default;
    void say(const std::string& s) {
        if (options_.trace) trace_ << "    " << s << "\n";
    }

  private:
    void execute(const Command& c);
    void setup(const Command& c);
    void action(const Command& c);
    void expect(const Command& c);
    void expect_stored(const Command& c);
    void start();
    // Ends the scenario's session; returns what went wrong with its server, if anything.
    std::optional<std::string> finish();
    platform::Form& form();
    host::TfrmPadraoGrid& screen();
    Control& control(const std::string& name);
    DataSet& dataset(const std::string& name);
    platform::Field& field(const std::string& ds, const std::string& name);
    platform::DBGrid& grid(const std::string& name);
    void usable(Control& c, const char* what);
    void focus(Control& c);
    std::string message_arg(const Command& c, std::size_t i, std::size_t* next = nullptr);
    std::string shown(Control& c);
    std::string state_text();
    [[noreturn]] void fail(const std::string& message) { throw Failure{line, message}; }
    void repeat_call(const std::string& method);
    void sync(const Command& c);

    std::string path_;
    Options options_;
    std::ostream& trace_;
    RobotUi ui_;
    std::vector<Command> commands_;

    // Setup.
    std::string fixture_, clock_, operator_ = "ROBO", password_, branch_, mask_ = "9.99.999;0;_";
    int levels_ = 3, width_ = 1024, height_ = 768;
    char decimal_ = ',';
    bool branch_given_ = false;

    // Running state.
    std::string work_dir_;
    std::unique_ptr<ScenarioServer> server_;
    host::ServerQueries queries_;  // the screen's reference data, read through the server
    // The scenario's own look at what the server stored (expect stored), never the screen's.
    std::unique_ptr<platform::SqliteConnection> stored_;
    host::Services services_;
    bool started_ = false, open_ = false;
    bool initialized_ = false;  // the module's Initialize ran: Finalize must too
    std::optional<std::string> error_;
    int error_line_ = 0;
    bool error_seen_ = true;
    std::map<std::string, int> calls_;
    std::map<std::string, Variant::Array> last_args_;
    bool other_workstation_ = false;  // a call of `server repeat` is running: not the screen's
};

// ------------------------------------------------------------------------------ RobotUi

host::ModalResult RobotUi::message(const std::string& text, host::MsgType, unsigned buttons) {
    if (buttons & (host::mbYes | host::mbNo)) {
        s_.dialogs.push_back({Dialog::Question, text});
        s_.say("question " + quote(text));
        if (s_.answers.empty()) throw Failure{s_.line, "a question was asked with no answer queued: " + quote(text)};
        Answer a = s_.answers.front();
        s_.answers.pop_front();
        s_.say(std::string("answered ") + (a.yes ? "yes" : "no"));
        return a.yes ? host::ModalResult::Yes : host::ModalResult::No;
    }
    s_.dialogs.push_back({Dialog::Info, text});
    s_.say("notice " + quote(text));
    return host::ModalResult::OK;
}

std::optional<int> RobotUi::pick_list(DataSet& list, const std::string& title) {
    s_.say("pick list " + quote(title) + " with " + std::to_string(list.record_count()) + " rows");
    if (s_.picks.empty()) throw Failure{s_.line, "a pick list " + quote(title) + " opened with no pick queued"};
    Pick p = s_.picks.front();
    s_.picks.pop_front();
    if (p.kind == Pick::None) return std::nullopt;
    if (p.kind == Pick::Row) {
        if (p.row < 1 || p.row > list.record_count())
            throw Failure{s_.line, "pick " + std::to_string(p.row) + ": the list " + quote(title) + " has " +
                                       std::to_string(list.record_count()) + " rows"};
        return p.row - 1;
    }
    platform::Field* f = list.find_field(p.field);
    if (!f) throw Failure{s_.line, "pick: the list " + quote(title) + " has no field " + p.field};
    for (int i = 0; i < list.record_count(); ++i) {
        list.set_display_record(i);
        bool match = f->as_string() == p.value || f->display_text() == p.value;
        list.set_display_record(-1);
        if (match) return i;
    }
    throw Failure{s_.line, "pick: no row of " + quote(title) + " has " + p.field + " " + quote(p.value)};
}

void RobotUi::find_dialog(DataSet& ds) {
    s_.say("find dialog over " + ds.name());
}

void RobotUi::open_screen(const std::string& code, const Variant::Array& params) {
    if (code == "QLM00610" && params.size() >= 2) {
        DataSet* ds = host::dataset_from_handle(params[0]);
        Dialog d{Dialog::List, params[1].as_string(), ds ? ds->record_count() : 0};
        s_.dialogs.push_back(d);
        s_.say("list " + quote(d.text) + " with " + std::to_string(d.rows) + " rows");
        return;
    }
    s_.dialogs.push_back({Dialog::Screen, code});
    s_.say("screen " + code);
}

void RobotUi::set_cursor(host::Cursor c) {
    s_.cursor = c;
    s_.say(c == host::Cursor::HourGlass ? "cursor wait" : "cursor default");
}

void RobotUi::show_modal(platform::Form& form) {
    s_.dialogs.push_back({Dialog::Screen, form.name(), 0, true, s_.cursor});
    s_.say("modal screen " + form.name());
    if (auto* r = dynamic_cast<host::TfrmDadosGerRel*>(&form)) s_.report_screen = r;
}

std::vector<std::string> RobotUi::report_parameters(const std::string& report) {
    if (s_.report_names) return *s_.report_names;
    return host::report::declared_parameters(report);
}

// The report produced headless: the parameters the screen set are recorded, then its text.
void RobotUi::run_report(const std::string& report, platform::Params& params) {
    std::string text = "report " + report;
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].value().is_null()) continue;
        s_.report_set[params[i].name()] = params[i].as_string();
        text += " " + params[i].name() + "=" + quote(params[i].as_string());
    }
    s_.say(text);
    s_.report_text = host::report::text_of(host::report::produce(report, params).document);
}

// ---------------------------------------------------------------------------- Scenario

Outcome Scenario::run() {
    Outcome out;
    try {
        std::ifstream in(path_);
        if (!in) throw Failure{0, "cannot read the scenario file"};
        std::stringstream ss;
        ss << in.rdbuf();
        try {
            commands_ = parse_script(ss.str());
        } catch (const ScriptError& e) {
            throw Failure{e.line(), e.what()};
        }
        for (const Command& c : commands_) {
            line = c.line;
            execute(c);
        }
        line = commands_.empty() ? 0 : commands_.back().line;
        if (error_ && !error_seen_)
            throw Failure{error_line_,
                          "the action ended with the error " + quote(*error_) + " and nothing expected it"};
        for (const auto& a : answers) throw Failure{a.queued_at, "an answer was queued and never used"};
        for (const auto& p : picks) throw Failure{p.queued_at, "a pick was queued and never used"};
    } catch (const Failure& f) {
        out.ok = false;
        out.line = f.line;
        out.message = f.message;
    } catch (const std::exception& e) {
        out.ok = false;
        out.line = line;
        out.message = e.what();
    }
    // A server that crashed or reported a fault on its way out fails a scenario that passed.
    if (auto problem = finish(); problem && out.ok) {
        out.ok = false;
        out.line = line;
        out.message = *problem;
    }
    return out;
}

void Scenario::execute(const Command& c) {
    const std::string& verb = c.word(0);
    if (options_.trace) trace_ << "  " << line << ": " << verb << (c.size() > 1 ? " " + c.word(1) : "") << "\n";
    if (verb == "fixture" || verb == "clock" || verb == "display" || verb == "operator" || verb == "branch" ||
        verb == "decimal" || verb == "productmask" || verb == "password") {
        setup(c);
    } else if (verb == "expect") {
        expect(c);
    } else if (verb == "answer") {
        if (c.word(1) != "yes" && c.word(1) != "no") fail("answer takes yes or no");
        answers.push_back({c.word(1) == "yes", line});
    } else if (verb == "pick") {
        Pick p;
        p.queued_at = line;
        if (c.word(1) == "none" && !c.tokens[1].quoted) {
            p.kind = Pick::None;
        } else if (c.size() == 2) {
            p.kind = Pick::Row;
            long long n;
            if (!platform::try_str_to_int(c.word(1), n)) fail("pick takes a row number, FIELD \"value\" or none");
            p.row = static_cast<int>(n);
        } else if (c.size() == 3) {
            p.kind = Pick::ByValue;
            p.field = c.word(1);
            p.value = c.word(2);
        } else {
            fail("pick takes a row number, FIELD \"value\" or none");
        }
        picks.push_back(p);
    } else if (verb == "mark") {
        calls_.clear();
    } else if (verb == "signal" || verb == "wait") {
        start();
        sync(c);
    } else if (verb == "server") {
        start();
        if (!server_) fail("server commands need the scenario's own server (not with --connect)");
        if (c.word(1) == "fail") {
            if (c.size() != 4) fail("server fail takes a method and a message");
            server_->fail_next(c.word(2), c.word(3));
        } else if (c.word(1) == "down") {
            server_->set_down(true);
        } else if (c.word(1) == "up") {
            server_->set_down(false);
        } else if (c.word(1) == "repeat") {
            if (c.size() != 3) fail("server repeat takes a method");
            repeat_call(c.word(2));
        } else {
            fail("server takes fail, down, up or repeat");
        }
    } else {
        action(c);
    }
}

// server repeat METHOD: another workstation sends the screen's last call of METHOD again,
// straight to the server, so that the screen's data is stale; the screen's counters never see
// it. The call must succeed: it stands for what another operator did.
void Scenario::repeat_call(const std::string& method) {
    if (!server_) fail("server repeat needs the scenario's own server");
    auto it = last_args_.find(method);
    if (it == last_args_.end()) fail("server repeat: " + method + " was never called");
    struct OtherWorkstation {
        bool& flag;
        explicit OtherWorkstation(bool& f) : flag(f) { flag = true; }
        ~OtherWorkstation() { flag = false; }
    } other(other_workstation_);
    host::TNetConnection net("netOutraEstacao");
    net.ServerName = "QLM01200.rdmAcertoFinal";  // the remote data module the screen calls
    net.Host = "127.0.0.1";
    net.Port = server_->port();
    host::ServerReply reply;
    try {
        reply = net.Call(method, it->second);
    } catch (const std::exception& e) {
        fail("server repeat " + method + ": " + e.what());
    }
    if (!reply.ok) fail("server repeat " + method + ": the server refused it: " + quote(reply.error));
    say("another workstation called " + method);
}

// signal NAME leaves a mark in the sync folder; wait NAME waits (up to a minute) for one, so that
// robots running at once on one database take turns.
void Scenario::sync(const Command& c) {
    if (options_.sync_dir.empty()) fail(c.word(0) + " needs --sync-dir");
    if (c.size() != 2) fail(c.word(0) + " takes a name");
    const std::string& name = c.word(1);
    if (name.empty() || name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos)
        fail(c.word(0) + ": a name is lower-case letters, digits, _ and -");
    const auto mark = std::filesystem::path(options_.sync_dir) / name;
    if (c.word(0) == "signal") {
        std::ofstream(mark) << line << "\n";
        if (!std::filesystem::exists(mark)) fail("signal: cannot write " + mark.string());
        say("signalled " + name);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!std::filesystem::exists(mark)) {
        if (std::chrono::steady_clock::now() > deadline) fail("wait " + name + ": no signal within a minute");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    say("got " + name);
}

void Scenario::setup(const Command& c) {
    if (started_) fail(c.word(0) + " must come before the first action");
    const std::string& v = c.word(1);
    if (c.word(0) == "fixture") {
        std::filesystem::path p(v);
        if (p.is_relative()) p = std::filesystem::path(path_).parent_path() / p;
        if (!std::filesystem::exists(p)) fail("fixture " + v + " not found");
        fixture_ = p.string();
    } else if (c.word(0) == "clock") {
        clock_ = v + (c.size() > 2 ? " " + c.word(2) : "");
        platform::DateTime t;
        if (!platform::DateTime::try_parse_iso(clock_, t)) fail("clock takes YYYY-MM-DD HH:MM:SS");
    } else if (c.word(0) == "display") {
        auto x = v.find('x');
        long long w, h;
        if (x == std::string::npos || !platform::try_str_to_int(v.substr(0, x), w) ||
            !platform::try_str_to_int(v.substr(x + 1), h))
            fail("display takes WxH");
        width_ = static_cast<int>(w);
        height_ = static_cast<int>(h);
    } else if (c.word(0) == "operator") {
        operator_ = v;
    } else if (c.word(0) == "password") {
        password_ = v;
    } else if (c.word(0) == "branch") {
        branch_ = v;
        branch_given_ = true;
    } else if (c.word(0) == "decimal") {
        if (v != "," && v != ".") fail("decimal takes , or .");
        decimal_ = v[0];
    } else if (c.word(0) == "productmask") {
        long long n;
        if (c.size() != 3 || !platform::try_str_to_int(c.word(2), n))
            fail("productmask takes \"MASK\" and a number of levels");
        mask_ = v;
        levels_ = static_cast<int>(n);
    }
}

void Scenario::start() {
    if (started_) return;
    started_ = true;
    char tmpl[] = "/tmp/acerto-robot-XXXXXX";
    if (!::mkdtemp(tmpl)) fail("cannot create a temporary folder");
    work_dir_ = tmpl;
    // The operator signs in with the password the scenario gives, or the one its fixture stores
    // for them; an operator the fixture does not have is added by the server for every branch.
    std::string password = password_;
    bool in_fixture = false;
    if (!fixture_.empty()) {
        std::ifstream in(fixture_);
        auto j = nlohmann::json::parse(in, nullptr, false);
        if (!branch_given_ && j.is_object() && j.contains("FILIAL") && j["FILIAL"].is_array() && !j["FILIAL"].empty() &&
            j["FILIAL"][0].contains("CDFILIAL"))
            branch_ = j["FILIAL"][0]["CDFILIAL"].get<std::string>();
        if (j.is_object() && j.contains("OPERADOR") && j["OPERADOR"].is_array())
            for (const auto& row : j["OPERADOR"])
                if (row.is_object() && row.value("CDOPERADOR", nlohmann::json()) == operator_) {
                    in_fixture = true;
                    if (password.empty() && row.value("DSSENHA", nlohmann::json()).is_string())
                        password = row["DSSENHA"].get<std::string>();
                }
    }
    // A server of the robot's own has the operator added; one it connects to must know them.
    if (password.empty() && options_.connect.empty())
        password = "robo-" + std::to_string(::getpid()) + "-" + std::to_string(line);
    if (options_.connect.empty()) {
        ServerSetup setup{options_.server_binary, fixture_, clock_, work_dir_,
                          in_fixture ? std::string() : operator_ + ":" + password};
        try {
            server_ = std::make_unique<ScenarioServer>(setup);
        } catch (const std::exception& e) {
            fail(e.what());
        }
        stored_ = std::make_unique<platform::SqliteConnection>(server_->database(), true);
    }
    platform::format_settings().decimal_separator = decimal_;
    platform::format_settings().thousand_separator = decimal_ == ',' ? '.' : ',';
    services_.ui = &ui_;
    services_.database = &queries_;
    services_.config.operator_code = operator_;
    services_.config.server_host = "127.0.0.1";
    if (server_)
        services_.config.server_port = server_->proxy_port();
    else {
        services_.config.set_server(options_.connect);
        services_.config.tls_ca = options_.tls_ca;
    }
    services_.config.branch = branch_;
    services_.config.product_mask = mask_;
    services_.config.product_levels = levels_;
    services_.config.display_width = width_;
    services_.config.display_height = height_;
    services_.config.decimal_separator = decimal_;
    if (!clock_.empty()) services_.config.clock = platform::DateTime::parse_iso(clock_);
    try {
        host::sign_in(services_.config, operator_, password);
    } catch (const std::exception& e) {
        fail(std::string("the operator ") + operator_ + " could not sign in: " + e.what());
    }
    services_.on_server_call = [this](const std::string& method, const Variant::Array& args,
                                      const host::ServerReply* reply, const std::string& failure) {
        if (other_workstation_) return;
        ++calls_[method];
        last_args_[method] = args;
        if (options_.trace) {
            std::string text = "call " + method + " " + Variant(args).to_json().dump();
            if (text.size() > 300) text = text.substr(0, 300) + "…";
            say(text);
            say(reply ? (reply->ok ? "  -> ok" : "  -> refused " + quote(reply->error)) : "  -> " + failure);
        }
    };
    host::install(&services_);
    if (options_.trace) platform::set_trace_hook([this](const std::string& s) { say(s); });
    module().load(options_.module_path);
    module().initialize();
    initialized_ = true;
}

std::optional<std::string> Scenario::finish() {
    std::optional<std::string> problem;
    if (started_) {
        // A scenario whose server did not start never loaded the module.
        if (initialized_) {
            try {
                module().finalize();
            } catch (...) {
            }
        }
        platform::set_trace_hook(nullptr);
        host::install(nullptr);
        queries_.connection().Close();
        stored_.reset();
        if (server_) problem = server_->stop();
        server_.reset();
        platform::format_settings() = platform::FormatSettings{};
        if (options_.keep)
            trace_ << "  kept " << work_dir_ << "/acerto.db\n";
        else if (!work_dir_.empty())
            std::filesystem::remove_all(work_dir_);
    }
    return problem;
}

platform::Form& Scenario::form() {
    platform::Form* f = open_ ? module().screen() : nullptr;
    if (!f) fail("the screen is not open");
    return *f;
}

host::TfrmPadraoGrid& Scenario::screen() {
    auto* s = dynamic_cast<host::TfrmPadraoGrid*>(&form());
    if (!s) fail("the screen is not a base grid screen");
    return *s;
}

Control& Scenario::control(const std::string& name) {
    Control* c = form().find(name);
    if (!c) fail("the screen has no control " + name);
    return *c;
}

DataSet& Scenario::dataset(const std::string& name) {
    DataSet* d = form().find_dataset(name);
    if (!d) fail("the screen has no dataset " + name);
    return *d;
}

platform::Field& Scenario::field(const std::string& ds, const std::string& name) {
    DataSet& d = dataset(ds);
    platform::Field* f = d.find_field(name);
    if (!f) fail(ds + " has no field " + name);
    return *f;
}

platform::DBGrid& Scenario::grid(const std::string& name) {
    auto* g = dynamic_cast<platform::DBGrid*>(&control(name));
    if (!g) fail(name + " is not a grid");
    return *g;
}

void Scenario::usable(Control& c, const char* what) {
    if (auto* tab = dynamic_cast<platform::TabSheet*>(&c)) {
        // A tab's header can be clicked whatever page is shown.
        if (!tab->enabled() || !tab->visible() || !tab->page_control().usable())
            fail(std::string("cannot ") + what + " " + c.name() + ": it is disabled or hidden");
        return;
    }
    if (auto* m = dynamic_cast<platform::MenuItem*>(&c)) {
        for (Control* p = m; p && dynamic_cast<platform::MenuItem*>(p); p = p->parent())
            if (!p->enabled() || !p->visible())
                fail(std::string("cannot ") + what + " " + c.name() + ": it is disabled or hidden");
        return;
    }
    if (!c.usable()) {
        std::string why = !c.showing() ? "hidden" : "disabled";
        fail(std::string("cannot ") + what + " " + c.name() + ": it is " + why);
    }
}

void Scenario::focus(Control& c) {
    if (c.focused()) return;
    if (!c.focusable()) fail("cannot focus " + c.name() + ": it does not take the focus");
    c.form().focus(&c);
}

std::string Scenario::state_text() {
    platform::Form* f = open_ ? module().screen() : nullptr;
    if (!f || !f->focused()) return "";
    return "; focus is in " + f->focused()->name();
}

// The text a message expectation names: a quoted text, or "key NAME" resolved in the screen's
// catalogue (then the base screen's own questions).
std::string Scenario::message_arg(const Command& c, std::size_t i, std::size_t* next) {
    if (c.word(i) == "key" && !c.tokens[i].quoted) {
        if (c.size() <= i + 1) fail("key needs a catalogue key");
        const std::string& key = c.word(i + 1);
        if (next) *next = i + 2;
        auto& s = screen();
        if (s.msgPadrao.contains(key)) return s.msgPadrao.Msg(key);
        if (s.msgMensagensPadroes.contains(key)) return s.msgMensagensPadroes.Msg(key);
        fail("the catalogue has no key " + key);
    }
    if (c.size() <= i) fail(c.word(0) + " " + c.word(1) + " needs a text");
    if (next) *next = i + 1;
    return c.word(i);
}

std::string Scenario::shown(Control& c) {
    if (auto* n = dynamic_cast<platform::NumberEdit*>(&c)) return n->display_text();
    return c.text();
}

void Scenario::action(const Command& c) {
    const std::string& verb = c.word(0);
    static const std::vector<std::string> known = {"open",  "close", "focus", "type",     "key",   "clear",
                                                   "click", "cell",  "row",   "ellipsis", "report"};
    if (std::find(known.begin(), known.end(), verb) == known.end()) fail("unknown command " + verb);
    if (error_ && !error_seen_)
        throw Failure{line, "the action at line " + std::to_string(error_line_) + " ended with the error " +
                                quote(*error_) + " and nothing expected it"};
    start();
    ++actions;
    dialogs.clear();
    error_.reset();
    error_seen_ = true;
    auto run = [&](const std::function<void()>& f) {
        try {
            f();
        } catch (const Failure&) {
            throw;
        } catch (const std::exception& e) {
            error_ = e.what();
            error_line_ = line;
            error_seen_ = false;
            say("error " + quote(*error_));
        }
    };
    if (verb == "open" && c.size() == 2 && c.word(1) == "CriaRelAcerto") {
        // The module's other exported entry: the report screen, shown modally.
        run([&] { module().cria_rel(); });
    } else if (verb == "open") {
        run([&] { module().cria(); });
        open_ = module().screen() != nullptr && module().screen()->shown();
    } else if (verb == "close") {
        platform::Form& f = form();
        run([&] {
            auto action = f.close();
            if (action == platform::CloseAction::Free || action == platform::CloseAction::Hide) open_ = false;
        });
    } else if (verb == "focus") {
        Control& ctl = control(c.word(1));
        usable(ctl, "focus");
        run([&] { focus(ctl); });
    } else if (verb == "type") {
        if (c.size() != 3) fail("type takes a control and a quoted text");
        Control& ctl = control(c.word(1));
        usable(ctl, "type into");
        run([&] {
            focus(ctl);
            ctl.clear_text();
            for (char32_t ch : platform::utf8_decode(c.word(2))) ctl.press_key(ch);
        });
    } else if (verb == "key") {
        Control& ctl = control(c.word(1));
        usable(ctl, "press a key on");
        const std::string& k = c.word(2);
        int vk = 0;
        char32_t ch = 0;
        if (c.tokens.size() > 2 && c.tokens[2].quoted) {
            auto u = platform::utf8_decode(k);
            if (u.size() != 1) fail("key takes one character in quotes");
            ch = u[0];
        } else if (k == "Backspace") {
            vk = platform::vk::Back;
            ch = platform::ch::Back;
        } else if (k == "Delete") {
            vk = platform::vk::Delete;
        } else if (k == "Enter") {
            vk = platform::vk::Return;
            ch = platform::ch::Return;
        } else if (k == "Tab") {
            vk = platform::vk::Tab;
            ch = platform::ch::Tab;
        } else if (k == "Escape") {
            vk = platform::vk::Escape;
            ch = platform::ch::Escape;
        } else if (k == "Up") {
            vk = platform::vk::Up;
        } else if (k == "Down") {
            vk = platform::vk::Down;
        } else if (k == "Insert") {
            vk = platform::vk::Insert;
        } else {
            fail("unknown key " + k);
        }
        run([&] {
            focus(ctl);
            if (vk) ctl.key_down(vk);
            if (ch) ctl.press_key(ch);
            // Tab on a box moves the focus on, as the keyboard does.
            if (vk == platform::vk::Tab && !dynamic_cast<platform::DBGrid*>(&ctl) && ctl.focused())
                if (Control* next = ctl.form().next_focusable(&ctl)) ctl.form().focus(next);
        });
    } else if (verb == "clear") {
        Control& ctl = control(c.word(1));
        usable(ctl, "clear");
        run([&] {
            focus(ctl);
            ctl.clear_text();
        });
    } else if (verb == "click") {
        Control& ctl = control(c.word(1));
        usable(ctl, "click");
        run([&] { ctl.click(); });
    } else if (verb == "cell") {
        auto& g = grid(c.word(1));
        usable(g, "move in");
        if (g.column_index(c.word(2)) < 0) fail(c.word(1) + " has no column for " + c.word(2));
        run([&] {
            focus(g);
            g.select_field(c.word(2));
        });
    } else if (verb == "row") {
        auto& g = grid(c.word(1));
        usable(g, "move in");
        long long n;
        if (!platform::try_str_to_int(c.word(2), n)) fail("row takes a row number");
        if (n < 1 || n > g.row_count())
            fail(c.word(1) + " has " + std::to_string(g.row_count()) + " rows; there is no row " + c.word(2));
        run([&] {
            focus(g);
            g.set_row(static_cast<int>(n) - 1);
        });
    } else if (verb == "report") {
        if (!report_screen) fail("no report screen is open");
        report_set.clear();
        report_text.reset();
        report_names.reset();
        report_ran = true;
        if (c.size() > 1) report_names = std::vector<std::string>(c.tokens.size() - 1);
        for (std::size_t i = 1; i < c.size(); ++i) (*report_names)[i - 1] = c.word(i);
        run([&] { report_screen->Imprimir(); });
        report_names.reset();
    } else if (verb == "ellipsis") {
        auto& g = grid(c.word(1));
        usable(g, "press the ellipsis of");
        run([&] {
            focus(g);
            g.edit_button_click();
        });
    }
    // Answers and picks queued for this action had to be used by its end.
    for (const auto& a : answers) throw Failure{a.queued_at, "an answer was queued and not used by the next action"};
    for (const auto& p : picks) throw Failure{p.queued_at, "a pick was queued and not used by the next action"};
}

void Scenario::expect(const Command& c) {
    const std::string& what = c.word(1);
    auto found = [&](const std::string& expected, const std::string& actual) {
        if (expected != actual) fail("expected " + expected + ", found " + actual + state_text());
    };
    if (what == "error") {
        std::string text = message_arg(c, 2);
        error_seen_ = true;
        if (!error_) fail("expected error " + quote(text) + " but the action ended normally" + state_text());
        if (*error_ != text) fail("expected error " + quote(text) + ", found error " + quote(*error_) + state_text());
    } else if (what == "no") {
        if (c.word(2) != "error") fail("expect no takes error");
        if (error_) {
            error_seen_ = true;
            fail("expected no error, found error " + quote(*error_) + state_text());
        }
    } else if (what == "info" || what == "question") {
        std::string text = message_arg(c, 2);
        Dialog::Kind kind = what == "info" ? Dialog::Info : Dialog::Question;
        for (const auto& d : dialogs)
            if (d.kind == kind && d.text == text) return;
        std::string seen;
        for (const auto& d : dialogs) seen += (seen.empty() ? "" : ", ") + quote(d.text);
        fail("expected " + what + " " + quote(text) + ", found " + (seen.empty() ? "no dialog" : seen));
    } else if (what == "list") {
        std::size_t next = 0;
        std::string text = message_arg(c, 2, &next);
        long long rows;
        if (!platform::try_str_to_int(c.word(next), rows)) fail("expect list takes a text and a number of rows");
        for (const auto& d : dialogs)
            if (d.kind == Dialog::List && d.text == text) {
                if (d.rows != rows)
                    fail("expected list " + quote(text) + " with " + std::to_string(rows) + " rows, found " +
                         std::to_string(d.rows));
                return;
            }
        fail("expected list " + quote(text) + ", found none");
    } else if (what == "param" || what == "noparam") {
        if (!report_ran) fail("expect " + what + ": no report has run");
        auto it = report_set.find(c.word(2));
        if (what == "noparam") {
            if (it != report_set.end()) fail("expected " + c.word(2) + " not set, found " + quote(it->second));
        } else if (it == report_set.end()) {
            fail("expected " + c.word(2) + " " + quote(c.word(3)) + ", found it not set");
        } else if (it->second != c.word(3)) {
            fail("expected " + c.word(2) + " " + quote(c.word(3)) + ", found " + quote(it->second));
        }
    } else if (what == "report") {
        if (!report_text) fail("expect report: no report was produced");
        if (report_text->find(c.word(2)) == std::string::npos)
            fail("expected the report to contain " + quote(c.word(2)) + "; it reads:\n" + *report_text);
    } else if (what == "modal") {
        // expect modal NAME [wait|default]: the last action showed that screen modally (under
        // that cursor).
        if (c.size() < 3 || c.size() > 4) fail("expect modal takes a screen and optionally wait or default");
        const std::string& cur = c.size() == 4 ? c.word(3) : std::string();
        if (!cur.empty() && cur != "wait" && cur != "default") fail("expect modal: the cursor is wait or default");
        for (const auto& d : dialogs)
            if (d.kind == Dialog::Screen && d.modal && d.text == c.word(2)) {
                const std::string shown = d.cursor == host::Cursor::HourGlass ? "wait" : "default";
                if (!cur.empty() && shown != cur)
                    fail("expected " + c.word(2) + " shown under the " + cur + " cursor, found the " + shown);
                return;
            }
        fail("expected the screen " + c.word(2) + " shown modally, found none");
    } else if (what == "cursor") {
        const std::string& cur = c.word(2);
        if (cur != "wait" && cur != "default") fail("expect cursor takes wait or default");
        found(cur, cursor == host::Cursor::HourGlass ? "wait" : "default");
    } else if (what == "nodialog") {
        for (const auto& d : dialogs)
            if (d.kind != Dialog::Screen) fail("expected no dialog, found " + quote(d.text));
    } else if (what == "dialog") {
        // expect dialog I TEXT: the I-th question, notice or list of the last action, from 1.
        long long i;
        if (c.size() < 4 || !platform::try_str_to_int(c.word(2), i) || i < 1)
            fail("expect dialog takes a position from 1 and a text");
        const std::string text = message_arg(c, 3);
        long long at = 0;
        for (const auto& d : dialogs) {
            if (d.kind == Dialog::Screen || ++at != i) continue;
            if (d.text != text) fail("expected dialog " + c.word(2) + " " + quote(text) + ", found " + quote(d.text));
            return;
        }
        fail("expected dialog " + c.word(2) + " " + quote(text) + ", found only " + std::to_string(at) + " dialogs");
    } else if (what == "dialogs") {
        // Exactly so many questions, notices and lists: no list or notice beyond those expected.
        long long n;
        if (c.size() != 3 || !platform::try_str_to_int(c.word(2), n)) fail("expect dialogs takes a number");
        long long shown_count = 0;
        std::string seen;
        for (const auto& d : dialogs) {
            if (d.kind == Dialog::Screen) continue;
            ++shown_count;
            seen += (seen.empty() ? ": " : ", ") + quote(d.text);
        }
        if (shown_count != n)
            fail("expected " + std::to_string(n) + " dialogs, found " + std::to_string(shown_count) + seen);
    } else if (what == "text") {
        Control& ctl = control(c.word(2));
        std::string actual = shown(ctl);
        if (actual != c.word(3))
            fail("expected " + c.word(2) + " to show " + quote(c.word(3)) + ", found " + quote(actual));
    } else if (what == "enabled" || what == "disabled") {
        Control& ctl = control(c.word(2));
        if (ctl.enabled() != (what == "enabled"))
            fail("expected " + c.word(2) + " " + what + ", found it " + (ctl.enabled() ? "enabled" : "disabled"));
    } else if (what == "visible" || what == "hidden") {
        Control& ctl = control(c.word(2));
        if (ctl.visible() != (what == "visible"))
            fail("expected " + c.word(2) + " " + what + ", found it " + (ctl.visible() ? "visible" : "hidden"));
    } else if (what == "checked" || what == "unchecked") {
        Control& ctl = control(c.word(2));
        bool checked;
        if (auto* r = dynamic_cast<platform::RadioButton*>(&ctl))
            checked = r->checked();
        else if (auto* m = dynamic_cast<platform::MenuItem*>(&ctl))
            checked = m->checked();
        else
            fail(c.word(2) + " is neither a radio button nor a menu item");
        if (checked != (what == "checked"))
            fail("expected " + c.word(2) + " " + what + ", found it " + (checked ? "checked" : "unchecked"));
    } else if (what == "focus") {
        Control* f = form().focused();
        found("focus in " + c.word(2), "focus in " + std::string(f ? f->name() : "nothing"));
    } else if (what == "page") {
        auto* tab = dynamic_cast<platform::TabSheet*>(&control(c.word(2)));
        if (!tab) fail(c.word(2) + " is not a tab sheet");
        auto* active = tab->page_control().active_page();
        if (active != tab) fail("expected page " + c.word(2) + ", found page " + (active ? active->name() : "none"));
    } else if (what == "state") {
        DataSet& d = dataset(c.word(2));
        std::string actual = platform::state_name(d.state());
        if (actual != c.word(3)) fail("expected " + c.word(2) + " in " + c.word(3) + ", found it in " + actual);
    } else if (what == "rows") {
        DataSet& d = dataset(c.word(2));
        long long n;
        if (!platform::try_str_to_int(c.word(3), n)) fail("expect rows takes a number");
        int actual = d.active() ? d.record_count() : 0;
        if (actual != n)
            fail("expected " + c.word(2) + " to hold " + c.word(3) + " rows, found " + std::to_string(actual));
    } else if (what == "value") {
        platform::Field& f = field(c.word(2), c.word(3));
        if (c.size() < 5) fail("expect value takes a dataset, a field and a value");
        const Token& v = c.tokens[4];
        std::string where = c.word(2) + "." + c.word(3);
        std::string actual = f.is_null()                                 ? "null"
                             : f.type() == platform::FieldType::DateTime ? quote(f.as_date_time().iso().substr(0, 19))
                             : f.is_numeric()                            ? platform::float_to_str(f.as_float())
                                                                         : quote(f.as_string());
        if (!v.quoted && v.text == "null") {
            if (!f.is_null()) fail("expected " + where + " null, found " + actual);
        } else if (!v.quoted) {
            std::string num = v.text;
            for (char& ch : num)
                if (ch == '.' || ch == ',') ch = platform::format_settings().decimal_separator;
            double expected;
            if (!platform::try_str_to_float(num, expected)) fail("expect value: " + v.text + " is not a number");
            if (f.is_null()) fail("expected " + where + " " + v.text + ", found null");
            double got = f.as_float();
            if (std::fabs(got - expected) > 1e-9 * std::max(1.0, std::fabs(expected)))
                fail("expected " + where + " " + v.text + ", found " + actual);
        } else {
            std::string got = f.is_null()                                 ? std::string()
                              : f.type() == platform::FieldType::DateTime ? f.as_date_time().iso().substr(0, 19)
                                                                          : f.as_string();
            if (f.is_null() || got != v.text) fail("expected " + where + " " + quote(v.text) + ", found " + actual);
        }
    } else if (what == "display") {
        platform::Field& f = field(c.word(2), c.word(3));
        std::string actual = f.display_text();
        if (actual != c.word(4))
            fail("expected " + c.word(2) + "." + c.word(3) + " to display " + quote(c.word(4)) + ", found " +
                 quote(actual));
    } else if (what == "cell") {
        auto& g = grid(c.word(2));
        int col = g.column_index(c.word(3));
        if (col < 0) fail(c.word(2) + " has no column for " + c.word(3));
        std::string actual = g.cell_text(g.current_row(), col);
        if (actual != c.word(4))
            fail("expected " + c.word(2) + " to show " + quote(c.word(4)) + " in " + c.word(3) + ", found " +
                 quote(actual));
    } else if (what == "calls") {
        long long n;
        if (!platform::try_str_to_int(c.word(3), n)) fail("expect calls takes a method and a number");
        int actual = calls_.count(c.word(2)) ? calls_[c.word(2)] : 0;
        if (actual != n) fail("expected " + c.word(3) + " calls of " + c.word(2) + ", found " + std::to_string(actual));
    } else if (what == "arg") {
        auto it = last_args_.find(c.word(2));
        if (it == last_args_.end()) fail(c.word(2) + " was never called");
        long long i;
        if (!platform::try_str_to_int(c.word(3), i) || c.size() < 5)
            fail("expect arg takes a method, an index and a value");
        const auto& args = it->second;
        if (i < 0 || static_cast<std::size_t>(i) >= args.size())
            fail(c.word(2) + " was called with " + std::to_string(args.size()) + " arguments");
        const Variant& a = args[static_cast<std::size_t>(i)];
        const Token& v = c.tokens[4];
        std::string actual = a.is_packet() ? "packet" : a.to_json().dump();
        bool ok;
        if (v.quoted) {
            ok = a.is_text() && a.text() == v.text;
        } else if (v.text == "null") {
            ok = a.is_null();
        } else if (v.text == "packet") {
            ok = a.is_packet();
        } else {
            double d;
            std::string num = v.text;
            for (char& ch : num)
                if (ch == '.' || ch == ',') ch = platform::format_settings().decimal_separator;
            ok = platform::try_str_to_float(num, d) && a.is_number() && a.number() == d;
        }
        if (!ok)
            fail("expected argument " + c.word(3) + " of " + c.word(2) + " to be " +
                 (v.quoted ? quote(v.text) : v.text) + ", found " + actual);
    } else if (what == "stored") {
        expect_stored(c);
    } else {
        fail("unknown expectation " + what);
    }
}

// expect stored TABLE N [COLUMN=VALUE ...]: rows of the scenario's database, read through the
// reference connection (read-only). Names are checked, values bound.
void Scenario::expect_stored(const Command& c) {
    auto is_name = [](const std::string& n) {
        if (n.empty()) return false;
        for (char ch : n)
            if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_'))
                return false;
        return true;
    };
    const std::string& table = c.word(2);
    long long n;
    if (!is_name(table) || !platform::try_str_to_int(c.word(3), n))
        fail("expect stored takes a table, a number of rows and COLUMN=VALUE conditions");
    std::string sql = "SELECT COUNT(*) FROM " + table;
    std::vector<Variant> params;
    std::string shown;
    for (std::size_t i = 4; i < c.size(); ++i) {
        const Token& t = c.tokens[i];
        auto eq = t.text.find('=');
        std::string column = eq == std::string::npos ? std::string() : t.text.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : t.text.substr(eq + 1);
        if (t.quoted || !is_name(column)) fail("expect stored: " + t.text + " is not COLUMN=VALUE");
        sql += params.empty() && shown.empty() ? " WHERE " : " AND ";
        shown += " " + t.text;
        if (t.value_quoted) {
            sql += column + " = ?";
            params.emplace_back(value);
        } else if (value == "null") {
            sql += column + " IS NULL";
        } else {
            std::string num = value;
            for (char& ch : num)
                if (ch == '.' || ch == ',') ch = platform::format_settings().decimal_separator;
            double d;
            if (!platform::try_str_to_float(num, d))
                fail("expect stored: " + value + " is not a number, null or a quoted text");
            sql += "ABS(" + column + " - ?) < 1e-9";
            params.emplace_back(d);
        }
    }
    if (!stored_) fail("expect stored needs the scenario's own server (not with --connect)");
    platform::ResultSet rs;
    try {
        rs = stored_->query(sql, params);
    } catch (const std::exception& e) {
        fail(std::string("expect stored: ") + e.what());
    }
    long long actual = rs.rows.empty() ? 0 : static_cast<long long>(rs.rows[0][0].as_number());
    if (actual != n)
        fail("expected " + std::to_string(n) + " rows of " + table + shown + " stored, found " +
             std::to_string(actual));
}

}  // namespace

Outcome run_scenario(const std::string& path, const Options& options, std::ostream& trace_out) {
    Scenario s(path, options, trace_out);
    return s.run();
}

}  // namespace acerto::robot
