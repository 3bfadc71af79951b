#include "platform/Environment.h"
#include "platform/ProgramMain.h"
#include "resources/Reasons.h"
#include "resources/Text.h"
#include "ui/UpdaterApp.h"

int main(int argc, char** argv) {
    vexil::SetLanguage(vexil::ChooseLanguage(vexil::EnvironmentValue, vexil::SystemLanguage()));
    return vexil::RunGuarded(
        "Vexil",
        [&] {
            vexil::UpdaterApp app(argc, argv);
            app.InitInstance();
            return 0;
        },
        stderr, vexil::InternalErrorWords);
}
