// acerto-report: a report rendered without a display, for batch printing and for the tests.
//   acerto-report --server HOST:PORT --operator OP --branch B --number N -o FILE.pdf|FILE.csv
// The parameters are those of the settlement report; the file's extension picks the output. The
// operator signs in with the password in ACERTO_PASSWORD, or the first line of standard input.
#include <QGuiApplication>
#include <cstdlib>
#include <iostream>

#include <CLI/CLI.hpp>

#include "acerto/host/report.h"
#include "acerto/host/services.h"
#include "acerto/host/sign_in.h"
#include "acerto/platform/format.h"
#include "report_render.h"

using namespace acerto;

namespace {

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Gera um relatório em PDF ou CSV sem tela."};
    std::string server, branch, number, output, code = "QLM012", sequence = "00", png;
    int png_page = 1;
    app.add_option("--server", server, "servidor de aplicação, HOST:PORTA")->required();
    std::string operator_code;
    app.add_option("--operator", operator_code,
                   "operador que entra no servidor (padrão: o das configurações); a senha vem de ACERTO_PASSWORD "
                   "ou da primeira linha da entrada padrão");
    app.add_option("--branch", branch, "filial")->required();
    app.add_option("--number", number, "número do orçamento ou da encomenda")->required();
    app.add_option("-o,--output", output, "arquivo de saída: .pdf ou .csv")->required();
    app.add_option("--report", code, "código do relatório");
    app.add_option("--png", png, "também grava uma página como imagem PNG");
    app.add_option("--png-page", png_page, "a página da imagem (a partir de 1)");
    CLI11_PARSE(app, argc, argv);

    const bool pdf = ends_with(output, ".pdf"), csv = ends_with(output, ".csv");
    if (!pdf && !csv) {
        std::cerr << "acerto-report: a saída deve terminar em .pdf ou .csv\n";
        return 2;
    }
    // No display is needed: Qt draws offscreen unless told otherwise.
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication qt(argc, argv);
    try {
        host::Services services;
        services.config = host::HostConfig::load();
        services.config.set_server(server);
        std::string password;
        if (const char* env = std::getenv("ACERTO_PASSWORD"))
            password = env;
        else
            std::getline(std::cin, password);
        host::sign_in(services.config, operator_code.empty() ? services.config.operator_code : operator_code, password);
        platform::format_settings().decimal_separator = services.config.decimal_separator;
        platform::format_settings().thousand_separator = services.config.decimal_separator == ',' ? '.' : ',';
        host::install(&services);
        struct Uninstall {
            ~Uninstall() { host::install(nullptr); }
        } uninstall;

        platform::Params params;
        for (const auto& name : host::report::declared_parameters(code)) params.add(name);
        if (auto* p = params.find("P_CDFILIAL")) p->set_as_string(branch);
        if (auto* p = params.find("P_NRORCAEVENTO")) p->set_as_string(number);
        if (auto* p = params.find("P_NRSEQORCAEVE")) p->set_as_string(sequence);
        host::report::Produced r = host::report::produce(code, params);
        if (pdf)
            gui::write_pdf(r.document, QString::fromStdString(output));
        else
            gui::write_text_file(host::report::csv_of(r.definition, r.data, r.masks), QString::fromStdString(output));
        if (!png.empty()) {
            if (png_page < 1 || png_page > static_cast<int>(r.document.pages.size()))
                throw std::runtime_error("o relatório não tem a página " + std::to_string(png_page));
            if (!gui::page_image(r.document, png_page - 1, 110).save(QString::fromStdString(png), "PNG"))
                throw std::runtime_error("não foi possível gravar " + png);
        }
        std::cout << output << ": " << r.document.pages.size() << " página(s)\n";
    } catch (const std::exception& e) {
        std::cerr << "acerto-report: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
