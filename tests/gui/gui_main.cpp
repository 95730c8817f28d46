// The GUI tests run offscreen, with one application object for all of them, and every dialog
// they open is answered (see modal_responder.h).
#include <gtest/gtest.h>
#include <QApplication>

#include "look.h"
#include "modal_responder.h"

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // As the program itself starts: Qt's texts in Portuguese, the layout's font and look.
    acerto::gui::install_portuguese(app);
    acerto::gui::apply_look(app);
    acerto::test::ModalResponder responder(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
