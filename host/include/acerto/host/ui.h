#pragma once
// The one interface through which the host framework reaches the operator. Each front end (the
// desktop window, the scenario robot, tests) implements it.
#include <optional>
#include <string>
#include <vector>

#include "acerto/platform/dataset.h"
#include "acerto/platform/form.h"
#include "acerto/platform/query.h"

namespace acerto::host {

enum class MsgType { Warning, Error, Information, Confirmation, Custom };

// Dialog buttons (a set) and the button pressed.
enum Buttons : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
enum class ModalResult { None, OK, Cancel, Yes, No };

enum class Cursor { Default, HourGlass };

class OperatorUi {
  public:
    virtual ~OperatorUi() = default;

    // An error that ended an operation (shown by the host when it catches the failure).
    virtual void show_error(const std::string& text) = 0;
    // A question or notice with the given buttons; returns the button pressed.
    virtual ModalResult message(const std::string& text, MsgType type, unsigned buttons) = 0;
    // A pick list over the dataset's visible fields; the 0-based row picked, or none.
    virtual std::optional<int> pick_list(platform::DataSet& list, const std::string& title) = 0;
    // The find dialog over a dataset (it moves the dataset's cursor to what it finds).
    virtual void find_dialog(platform::DataSet& dataset) = 0;
    // The busy indicator around long server calls.
    virtual void busy(bool on) = 0;
    virtual void set_cursor(Cursor c) = 0;
    // Another screen of the suite, by its code, with its parameters (Vantiro::LoadBPL).
    virtual void open_screen(const std::string& code, const platform::Variant::Array& params) = 0;
    // A screen shown modally (report screens); returns when the operator closes it.
    virtual void show_modal(platform::Form& form) = 0;
    // The report engine: the parameters a report's query declares, and running it.
    virtual std::vector<std::string> report_parameters(const std::string& report) = 0;
    virtual void run_report(const std::string& report, platform::Params& params) = 0;
};

// The dataset handed to another screen travels as an integer handle.
platform::Variant dataset_handle(platform::DataSet& ds);
platform::DataSet* dataset_from_handle(const platform::Variant& v);

}  // namespace acerto::host
