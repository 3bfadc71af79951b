#include "platform/ProgramMain.h"
#include "ui/UpdaterApp.h"

int main(int argc, char** argv) {
    return vexil::RunGuarded("Vexil", [&] {
        vexil::UpdaterApp app(argc, argv);
        app.InitInstance();
        return 0;
    });
}
