#include <gtest/gtest.h>

#include <QApplication>
#include <QThreadPool>
#include <latch>
#include <memory>

#include "ui/UpdaterApp.h"

namespace {

// The raster paint engine hands parts of its fills to Qt's global thread pool, and each thread of
// the pool holds an event descriptor of its own. The pool starts a thread when a paint finds
// none idle and ends one after 30 idle seconds, so a test that counts the process's descriptors
// before and after a download (which repaints the progress bar) would count threads coming and
// going as a socket left open or one closed twice. Every thread of the pool is started here,
// before any test, and kept to the end.
void KeepEveryPoolThread() {
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    const int threads = pool->maxThreadCount();
    // Each task holds its thread until all have begun, so that none is handed a second task.
    const auto started = std::make_shared<std::latch>(threads + 1);
    for (int i = 0; i < threads; ++i) {
        pool->start([started] { started->arrive_and_wait(); });
    }
    started->arrive_and_wait();
}

}  // namespace

int main(int argc, char** argv) {
    // Offscreen unless a platform is named (QT_QPA_PLATFORM=xcb runs the same tests on an X
    // server).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    vexil::InstallPlatformTexts(app);
    KeepEveryPoolThread();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
