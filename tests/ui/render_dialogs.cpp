// Renders the main dialog and the confirmation dialog to PNG files on the offscreen platform, for
// the screenshots in docs/ (one command line each), in the language the environment chooses as
// the program does:
//   LANG=ja_JP.UTF-8 QT_QPA_PLATFORM=offscreen build/tests/ui/render_dialogs
//       docs/main-dialog.png docs/confirm-dialog.png
//   LANG=en_US.UTF-8 QT_QPA_PLATFORM=offscreen build/tests/ui/render_dialogs
//       docs/main-dialog-en.png docs/confirm-dialog-en.png
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>

#include "platform/Environment.h"
#include "resources/ResourceIds.h"
#include "resources/Text.h"
#include "tests/support/EngineFakes.h"
#include "ui/AddressEdit.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"
#include "ui/TargetConfirmDialog.h"
#include "ui/UpdaterApp.h"

int main(int argc, char** argv) {
    vexil::SetLanguage(vexil::ChooseLanguage(vexil::EnvironmentValue, vexil::SystemLanguage()));
    QApplication app(argc, argv);
    vexil::InstallPlatformTexts(app);
    if (argc < 3) {
        return 2;
    }
    vexil::test::ScriptedTransport transport;
    vexil::DialogServices services;
    vexil::MainDialog dialog(transport, services);
    // As a user sees it with the model picked and an address typed.
    auto* list = static_cast<QComboBox*>(dialog.Control(vexil::control::kModelList));
    list->setCurrentIndex(0);
    dialog.Logic().OnCommand(vexil::control::kModelList,
                             vexil::MainWindowLogic::Notification::kSelected);
    const char* octets[] = {"192", "0", "2", "1"};
    for (int i = 0; i < 4; ++i) {
        dialog.Octet(i)->setText(octets[i]);
    }
    dialog.Logic().SetStatusText(57628);
    dialog.Logic().SetProgressRange(0, 0x7FFF);
    dialog.Logic().SetProgressPosition(0x7FFF / 3);
    dialog.show();
    app.processEvents();
    bool saved = dialog.grab().save(argv[1]);

    // The confirmation of an IPX download, with the whole MAC address.
    vexil::TargetConfirmDialog confirm(nullptr);
    confirm.Fill({"00D1F0123456", "1.02", "1.10"});
    confirm.show();
    app.processEvents();
    saved = confirm.grab().save(argv[2]) && saved;
    return saved ? 0 : 1;
}
