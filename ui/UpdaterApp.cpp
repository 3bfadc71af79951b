#include "ui/UpdaterApp.h"

#include <QEventLoop>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "resources/Text.h"
#include "transport/TavdlTransport.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"

namespace vexil {

void InstallPlatformTexts(QCoreApplication& application) {
    // Qt's own texts (the open-file dialog, the edit fields' menus, the buttons of the message
    // boxes) follow the program's language, whatever the desktop's: Qt's translation for
    // Japanese, Qt's own English for English.
    if (CurrentLanguage() == Language::kEnglish) {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        return;
    }
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    auto* translator = new QTranslator(&application);
    if (translator->load(japanese, "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

int RunAsApplicationWindow(QDialog& dialog) {
    // Modal to nothing: a parentless window run with exec() would carry the modal state that
    // some task bars take for a dialog and leave out. The window is the program; its run ends
    // when the dialog is done.
    QEventLoop run;
    QObject::connect(&dialog, &QDialog::finished, &run, &QEventLoop::quit);
    dialog.show();
    run.exec();
    return dialog.result();
}

UpdaterApp::UpdaterApp(int& argc, char** argv) : application_(argc, argv) {
    InstallPlatformTexts(application_);
}

bool UpdaterApp::InitInstance() {
    TavdlTransport transport;
    DialogServices services;
    {
        MainDialog dialog(transport, services);
        RunAsApplicationWindow(dialog);
    }
    return false;
}

}  // namespace vexil
