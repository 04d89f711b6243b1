#pragma once

// The main window over a fake or real line, a fake web control and a settable clock.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>

#include "app/TForm1.h"
#include "app/TformPickPort.h"
#include "app/Tray.h"
#include "app/WindowLook.h"
#include "link/Cp1250.h"
#include "support/EngineProbe.h"
#include "support/FakeClock.h"
#include "support/FakeHttpControl.h"
#include "support/FakeSerialDevice.h"
#include "support/Pty.h"
#include "support/ScriptedPrompts.h"
#include "support/SmallFilesystem.h"
#include "sync/DriveC.h"

namespace kv::test {

inline const std::string kDefaults =
    "2\r\nhttp://localhost/kordavoweb/\r\nlocalhost\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

// The start frame the unit must see for the fake clock's moment (Tuesday 5.3.2024 7:04:09).
inline std::string frameWithTime(int code, const FakeClock& clock,
                                 const std::string& rest = std::string(7, '\0')) {
    const WallTime t = clock.now();
    std::string f = "\xF0\xF0\xA5";
    for (int b : {code, t.hour, t.minute, t.second, t.day, t.month, t.year - 2000, t.dayOfWeek, 0})
        f += char(b);
    return f + rest;
}

struct Window {
    explicit Window(const std::optional<std::string>& config,
                    std::function<void(Window&)> beforeCreate = {}) {
        workDir = std::filesystem::path(dir.path().toStdString());
        if (config) writeFile(workDir / "terminal.cfg", *config);
        if (beforeCreate) beforeCreate(*this);
        FormServices s;
        s.bridge.prompts = &prompts;
        s.bridge.clock = &clock;
        s.bridge.serialFactory = [this] {
            ++devicesMade;
            return fakeLine ? fakeSerialFactory(fakeLine)() : makeQtSerialDevice();
        };
        s.bridge.httpFactory = [this](QObject*) {
            auto http = std::make_unique<FakeHttpControl>();
            this->http = http.get();
            return std::unique_ptr<HttpControl>(std::move(http));
        };
        s.bridge.workDir = workDir;
        s.bridge.driveC = driveCRoot();
        s.trayAvailable = [this] { return desktopTray; };
        form = std::make_unique<TForm1>(s);
        form->appstart();
    }

    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
    // Ticks until the run of frames under way has gone out (at most n ticks).
    void finishRun(int n = 1000) {
        for (int i = 0; i < n && BridgeProbe::engine(form->bridge()).jobRunning(); ++i) tick();
    }

    // The company id the web application is told, as the poll the bridge sends now carries it
    // (empty: none; "?": nothing was sent).
    std::string companyIdAsked() {
        if (!form->bridge().pollServer()) return "?";
        const std::string url = http->calls().back().url;
        const std::size_t at = url.find("&firma=");
        return at == std::string::npos ? std::string() : url.substr(at + 7);
    }

    QString text(const char* name) { return form->findChild<QLineEdit*>(name)->text(); }
    bool running() { return form->fields().checked(Check::stavjede); }
    // One tick as the timer runs it (a failure is reported, not thrown), and the clock moves
    // on to the next.
    void tick() {
        form->bridge().handle([this] { form->bridge().tick(); });
        clock.advanceMs(Bridge::kTickMs);
    }

    QTemporaryDir dir;
    std::unique_ptr<SmallFilesystem> fs;  // mounted inside dir, so it goes first
    std::filesystem::path workDir;
    FakeClock clock;
    ScriptedPrompts prompts;
    FakeHttpControl* http = nullptr;
    int devicesMade = 0;
    bool desktopTray = false;                  // whether the desktop shows a system tray
    std::shared_ptr<FakeSerialLine> fakeLine;  // set before the form: the in-memory line
    std::unique_ptr<TForm1> form;
};

inline std::string config(const std::string& port, const std::string& start,
                          const std::string& id = "0", const std::string& slowstart = "0") {
    return port + "\r\nhttp://127.0.0.1/kw/\r\nlocalhost\r\n" + start + "\r\n" + id + "\r\n" +
           slowstart + "\r\n0\r\n0\r\n";
}

}  // namespace kv::test
