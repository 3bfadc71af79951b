#include "ui/UpdaterApp.h"

int main(int argc, char** argv) {
    vexil::UpdaterApp app(argc, argv);
    app.InitInstance();
    return 0;
}
