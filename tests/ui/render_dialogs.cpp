// Renders the main dialog to a PNG on the offscreen platform, for docs/main-dialog.png:
//   QT_QPA_PLATFORM=offscreen build/tests/ui/render_main_dialog docs/main-dialog.png
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>

#include "tests/support/EngineFakes.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"
#include "ui/NumericEdit.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        return 2;
    }
    vexil::test::ScriptedTransport transport;
    vexil::DialogServices services;
    vexil::MainDialog dialog(transport, services);
    // As a user sees it with the model picked and an address typed.
    auto* list = static_cast<QComboBox*>(dialog.Control(1026));
    list->setCurrentIndex(0);
    dialog.OnModelSelected();
    const char* octets[] = {"192", "0", "2", "1"};
    for (int i = 0; i < 4; ++i) {
        dialog.Octet(i)->setText(octets[i]);
    }
    dialog.SetStatusText(57628);
    dialog.SetProgressRange(0, 0x7FFF);
    dialog.SetProgressPosition(0x7FFF / 3);
    dialog.show();
    app.processEvents();
    return dialog.grab().save(argv[1]) ? 0 : 1;
}
