// Faults of the environment the bridge runs in, with the whole window on a pseudo-terminal.
#include <gtest/gtest.h>

#include "app/WindowRig.h"
#include "link/Cp1250.h"
#include "support/WebStub.h"

namespace kv::test {
namespace {

// Faults of the environment the bridge runs in.  Each case starts the window on a working
// directory (and drive C:) prepared for it, runs into the fault, and checks that the bridge says
// what is wrong in Czech, keeps its configuration as it was, and, where a port is open, still
// serves the unit afterwards.
struct Environment {
    PtyPair unit;
    std::optional<ComPortMapping> com1;
    std::filesystem::path driveC;
    std::unique_ptr<SmallFilesystem> driveFs;
    std::unique_ptr<Window> window;
    Window* w = nullptr;

    // The unit sends bytes; true once the port has heard them (input comes in only on its
    // notice, from the event loop).
    bool unitSends(const std::string& bytes) {
        bool arrived = false;
        QObject heard;
        QObject::connect(&BridgeProbe::port(w->form->bridge()), &TQCCom32::inputArrived, &heard,
                         [&arrived] { arrived = true; });
        unit.writeMaster(bytes);
        return pumpUntil([&arrived] { return arrived; }, std::chrono::seconds(3));
    }
    // The unit sends an event and gets whatever the bridge makes of the reply.
    std::string event(const std::string& reply) {
        unit.drainMaster();
        const std::size_t before = w->http->calls().size();
        if (!unitSends(std::string("Z\x02\x00\x07\x01\x01\x01\x08\x1E\x00\x05\x03\x18\x00", 14) +
                       std::string(3, '\0')))
            return "unheard";
        for (int i = 0; i < 10 && w->http->calls().size() == before; ++i) w->tick();
        if (w->http->calls().size() == before || !w->http->running()) return "no request";
        w->tick();
        w->http->complete(reply);
        w->tick();
        return unit.readMaster(19, std::chrono::milliseconds(500));
    }
    // What the operator sees: message boxes and the status fields.
    QString said() const {
        QString all;
        for (const auto& p : w->prompts.shown) all += p.text + "\n";
        for (Field f : {Field::stavprac, Field::stavdatum, Field::stavcip, Field::urls})
            all += fromCp1250(w->form->fields().text(f)) + "\n";
        all += QString::fromStdString(w->form->bridge().status().cause);
        return all;
    }
};

using namespace std::string_literals;

const std::string kOk = "---OK---\nNovak Jan\n# udalost ulozena, odpoved dost dlouha\n";

struct EnvironmentCase {
    const char* name;
    std::string config;
    std::function<bool(Environment&)> before;  // false: the fault cannot be made here
    bool readOnlyWorkDir;
    std::function<void(Environment&)> provoke;
    const char* says;  // UTF-8, part of what is shown; empty: nothing needs saying
    std::function<void(Environment&)> recover;
    bool serves;  // the port is open: an event is answered afterwards
};

class EnvironmentFault : public testing::TestWithParam<EnvironmentCase> {};

TEST_P(EnvironmentFault, IsToldInCzechAndNothingHeldIsLost) {
    const EnvironmentCase& c = GetParam();
    Environment e;
    e.com1.emplace(1, e.unit.slaveName());
    bool possible = true;
    e.window = std::make_unique<Window>(std::nullopt, [&](Window& w) {
        e.w = &w;
        e.driveC = w.workDir / "c";
        std::filesystem::create_directories(e.driveC);
        possible = !c.before || c.before(e);
        writeFile(w.workDir / "terminal.cfg", c.config);
        if (w.fs) w.fs->setReadOnly(c.readOnlyWorkDir);
    });
    qunsetenv("KVBRIDGE_DRIVE_C");
    if (!possible) GTEST_SKIP() << "no right to mount a small file system here";
    if (c.provoke) c.provoke(e);
    if (*c.says) {
        EXPECT_TRUE(e.said().contains(QString::fromUtf8(c.says))) << e.said().toStdString();
    } else {
        EXPECT_TRUE(e.w->prompts.shown.empty()) << e.said().toStdString();
    }
    EXPECT_FALSE(e.w->form->bridge().status().requestUnderWay);
    if (c.recover) c.recover(e);
    if (e.w->fs) e.w->fs->setReadOnly(false);
    EXPECT_EQ(readFile(e.w->workDir / "terminal.cfg"), c.config);
    if (c.serves) {
        EXPECT_EQ(e.event(kOk).substr(0, 4), "\xF0\xF0\xA5\x06");
    }
}

// The working directory on its own small file system.
bool smallWorkDir(Environment& e) {
    e.w->fs = std::make_unique<SmallFilesystem>(e.w->workDir, 64 * 1024);
    return e.w->fs->usable();
}

const std::string kRunning = config("1", "1");

INSTANTIATE_TEST_SUITE_P(
    Cases, EnvironmentFault,
    testing::Values(
        // The reply cannot be converted for reading: reported, the request ends, the reply is gone.
        EnvironmentCase{"WorkDirFull", kRunning, smallWorkDir, false,
                        [](Environment& e) {
                            ASSERT_TRUE(
                                e.unitSends(std::string("Z\x02", 2) + std::string(15, '\x01')));
                            for (int i = 0; i < 10 && !e.w->http->running(); ++i) e.w->tick();
                            e.w->tick();
                            e.w->http->complete(kOk);
                            e.w->fs->fill();
                            e.w->tick();
                        },
                        "nelze zapsat", [](Environment& e) { e.w->fs->drain(); }, true},
        // No room for the reply: the event is not sent (the server would record it and the unit
        // get no answer), and the cause names the disk.
        EnvironmentCase{"WorkDirFullBeforeTheEvent", kRunning, smallWorkDir, false,
                        [](Environment& e) {
                            e.w->fs->fill();
                            EXPECT_EQ(e.event(kOk), "no request");
                        },
                        "Místní disk: nelze zapsat soubor",
                        [](Environment& e) { e.w->fs->drain(); }, true},
        // get.tmp cannot be created: the request is not sent, and the field says so.
        EnvironmentCase{"WorkDirReadOnly",
                        kRunning,
                        smallWorkDir,
                        true,
                        [](Environment& e) { EXPECT_EQ(e.event(kOk), "no request"); },
                        "Požadavek neodeslán!",
                        {},
                        true},
        EnvironmentCase{"TriggerFileCannotBeDeleted",
                        kRunning,
                        [](Environment& e) {
                            e.driveFs = std::make_unique<SmallFilesystem>(e.driveC, 64 * 1024);
                            std::ofstream(e.driveC / "zamestnanci") << "1";
                            e.driveFs->setReadOnly(true);
                            qputenv("KVBRIDGE_DRIVE_C",
                                    QByteArray::fromStdString(e.driveC.string()));
                            return e.driveFs->usable();
                        },
                        false,
                        [](Environment& e) { e.w->tick(); },
                        "nejde smazat!!!!",
                        {},
                        true},
        // Line 4 says start, the others are binary: no port, no company id (the NUL in it
        // once cut the explanation off).
        EnvironmentCase{"ConfigBinary",
                        "\x01\xFE\r\n\x00\xFF\x1B\x80\n\x9A\r\n\xE8\r\n1\r\n\xFF\x00\x7F\r\n"s +
                            std::string(300, '\xAA'),
                        {},
                        false,
                        {},
                        "Není vybrán sériový port!",
                        {},
                        false},
        // Sixteen megabytes after the eight lines change nothing.
        EnvironmentCase{
            "ConfigHuge", kRunning + std::string(16 << 20, 'x'), {}, false, {}, "", {}, true},
        EnvironmentCase{"ConfigMissingLines",
                        "1\r\nhttp://127.0.0.1/kw/\r\nlocalhost\r\n1",
                        {},
                        false,
                        {},
                        "není platné číslo firmy",
                        {},
                        true},
        // The port's name leads to a plain file: it does not open, and the bridge waits for it.
        EnvironmentCase{"DeviceNotATty",
                        kRunning,
                        [](Environment& e) {
                            std::ofstream(e.w->workDir / "ttyS0") << "not a tty";
                            e.com1.emplace(1, (e.w->workDir / "ttyS0").string());
                            return true;
                        },
                        false,
                        [](Environment& e) {
                            EXPECT_EQ(e.w->form->bridge().status().state, CommState::portLost);
                        },
                        "zařízení není sériový port",
                        {},
                        false}),
    [](const testing::TestParamInfo<EnvironmentCase>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace kv::test
