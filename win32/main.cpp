// Vexil.exe: the download window on Windows.
#include <windows.h>

#include "platform/Environment.h"
#include "platform/ProgramMain.h"
#include "resources/Reasons.h"
#include "resources/Text.h"
#include "transport/TavdlTransport.h"
#include "win32/MainWindow.h"
#include "win32/Services.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    vexil::SetLanguage(vexil::ChooseLanguage(vexil::EnvironmentValue, vexil::SystemLanguage()));
    return vexil::RunGuarded(
        "Vexil",
        [] {
            vexil::TavdlTransport transport;
            vexil::win32::Services services;
            vexil::win32::MainWindow window(transport, services);
            window.Run();
            return 0;
        },
        stderr, vexil::InternalErrorWords);
}
