#include "ui/UpdaterApp.h"

#include "tavdl/TavdlTransport.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"

namespace vexil {

UpdaterApp::UpdaterApp(int& argc, char** argv) : application_(argc, argv) {
    // Message boxes carry the executable's base name.
    QApplication::setApplicationName("Vexil");
}

bool UpdaterApp::InitInstance() {
    TavdlTransport transport;
    DialogServices services;
    {
        MainDialog dialog(transport, services);
        dialog.exec();
    }
    return false;
}

}  // namespace vexil
