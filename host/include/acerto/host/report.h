#pragma once
// The host's report engine. A report is a definition read from a data file (its code, title,
// the server query it reads with the parameters that query declares, and its layout), the rows
// the application server answers for that query, and a page model laid out from both with no
// GUI toolkit in it: front ends render the model to screen, paper or PDF, the robot reads its
// text, and the lines export as CSV.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acerto/platform/datetime.h"
#include "acerto/platform/packet.h"
#include "acerto/platform/query.h"

namespace acerto::host {
class TNetConnection;
}

namespace acerto::host::report {

enum class Align { Left, Right, Center };
// How a value prints: as text, a number with fixed decimals and thousands, a date, a date-time.
enum class Format { Text, Number, Date, DateTime };

struct Column {
    std::string title, field;
    double width = 20;  // millimetres
    Align align = Align::Left;
    Format format = Format::Text;
    int decimals = 2;
    std::string mask;  // the host's edit mask a text is shown through ("product"); none when empty
};

// The host's edit masks by name: "product" is the product-code mask (DBPict(0)).
using Masks = std::map<std::string, std::string>;
// The names a definition may give a column's mask.
const std::vector<std::string>& mask_names();

struct HeaderField {
    std::string label, field;
    Format format = Format::Text;
    int decimals = 2;
};

// A group of lines: its own dataset, columns, and a subtotal of one column.
struct Section {
    std::string title, dataset;
    std::vector<Column> columns;
    std::string subtotal_label, subtotal_field;  // the field summed
};

struct Definition {
    std::string code, title;
    std::string server;  // the remote data module that answers the query
    std::string query;
    std::vector<std::string> parameters;  // what the query declares
    std::string header_dataset;           // one row; none means there is nothing to report
    std::vector<HeaderField> header;
    std::vector<Section> sections;
    std::string total_label, total_field;  // a field of the header row
    std::string empty_text;                // the page printed when the header has no row

    // Reads a definition; throws platform::Error naming what is wrong.
    static Definition parse(const std::string& json_text);
    static Definition load(const std::string& path);
};

// Where definitions are looked up by code (CODE.json): ACERTO_REPORTS, then the directories
// added (a module adds its own), then the program's directory and the installed
// share/acerto/reports.
void add_search_dir(const std::string& dir);
std::string find_definition(const std::string& code);  // throws platform::Error when none

// The rows a report query answered, by dataset name.
struct Data {
    std::map<std::string, std::shared_ptr<const platform::DataPacket>> sets;
    const platform::DataPacket* set(const std::string& name) const;
};

// Asks the application server for the rows of the definition's query: each declared parameter
// that was set travels as name and value (a parameter never set is left out).
Data fetch(TNetConnection& net, const Definition& def, platform::Params& params);
// The answer of the server's report method as datasets; throws platform::Error when malformed.
Data data_from_answer(const platform::Variant& answer);

// --------------------------------------------------------------------------- the page model

struct Item {
    enum Kind { Text, Rule } kind = Text;
    double x = 0, y = 0, w = 0, h = 0;  // millimetres from the page's top left
    std::string text;
    Align align = Align::Left;
    bool bold = false;
    double size = 9;  // points
};

struct Page {
    std::vector<Item> items;
};

struct Document {
    std::string title;
    double width = 210, height = 297;  // A4 portrait, millimetres
    std::vector<Page> pages;
};

struct LayoutOptions {
    platform::DateTime printed_at;
    std::string printed_by;
    Masks masks;
};

Document layout(const Definition& def, const Data& data, const LayoutOptions& options);

// The document as a person reads it: each page's items line by line, left to right, a form
// feed between pages.
std::string text_of(const Document& doc);
// The lines of every section as CSV for a spreadsheet: UTF-8, ';' separated, decimal comma,
// a header line (section, then the columns of all sections), texts quoted when they must be.
// Masked columns are written as printed (a code 1.01.001 stays text in the spreadsheet).
std::string csv_of(const Definition& def, const Data& data, const Masks& masks = {});

// A report run through the installed host services: the definition found by code, its rows
// from the application server the host is configured for, laid out at the host's clock for
// its operator, its codes shown through its masks.
struct Produced {
    Definition definition;
    Data data;
    Masks masks;
    Document document;
};
std::vector<std::string> declared_parameters(const std::string& code);
Produced produce(const std::string& code, platform::Params& params);

// A value as the report prints it.
std::string format_value(const platform::Variant& v, Format f, int decimals);
// A column's value as the report prints it: formatted, and a text shown through the column's mask
// as the screen shows it (a value the mask cannot hold is printed as it is).
std::string format_cell(const platform::Variant& v, const Column& c, const Masks& masks);

}  // namespace acerto::host::report
